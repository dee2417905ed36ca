// qemu TCG plugin: counts the instructions a program executes between the
// entries of the functions given (at=ADDRESS, in the order they run), and
// writes one line per part into out=FILE at the end: the instructions from
// each function's entry to the next one's, what it calls included.
//   qemu-arm -plugin count.so,at=0x10400,at=0x10800,out=FILE PROGRAM
#include "qemu_plugin.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

QEMU_PLUGIN_EXPORT int qemu_plugin_version = 1;

#define MAX_PARTS 8
static uint64_t starts[MAX_PARTS];
static uint64_t counts[MAX_PARTS + 1];  // [0]: before the first entry
static int parts;
static int part;  // the part running now
static const char *out_path;

// One translated block: where it starts and how many instructions it holds.
struct block {
    uint64_t vaddr;
    size_t insns;
};

static void on_block(unsigned int vcpu, void *userdata)
{
    (void)vcpu;
    const struct block *b = userdata;
    for (int i = 0; i < parts; i++)
        if (b->vaddr == starts[i])
            part = i + 1;
    counts[part] += b->insns;
}

static void on_translate(qemu_plugin_id_t id, struct qemu_plugin_tb *tb)
{
    (void)id;
    // Kept for as long as qemu may run the block: to the end of the process.
    struct block *b = malloc(sizeof *b);
    if (!b)
        abort();
    b->vaddr = qemu_plugin_tb_vaddr(tb);
    b->insns = qemu_plugin_tb_n_insns(tb);
    qemu_plugin_register_vcpu_tb_exec_cb(tb, on_block, QEMU_PLUGIN_CB_NO_REGS, b);
}

static void write_counts(qemu_plugin_id_t id, void *userdata)
{
    (void)id, (void)userdata;
    FILE *out = fopen(out_path, "w");
    if (!out) {
        perror(out_path);
        return;
    }
    for (int i = 0; i < parts; i++)
        fprintf(out, "%#llx %llu\n", (unsigned long long)starts[i], (unsigned long long)counts[i + 1]);
    if (fclose(out) != 0)
        perror(out_path);
}

QEMU_PLUGIN_EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t *info, int argc, char **argv)
{
    (void)info;
    for (int i = 0; i < argc; i++) {
        if (strncmp(argv[i], "at=", 3) == 0 && parts < MAX_PARTS) {
            starts[parts++] = strtoull(argv[i] + 3, NULL, 0);
        } else if (strncmp(argv[i], "out=", 4) == 0) {
            out_path = argv[i] + 4;
        } else {
            fprintf(stderr, "count: unknown argument %s\n", argv[i]);
            return -1;
        }
    }
    if (!out_path || parts == 0) {
        fprintf(stderr, "count: at=ADDRESS... and out=FILE are needed\n");
        return -1;
    }
    qemu_plugin_register_vcpu_tb_trans_cb(id, on_translate);
    qemu_plugin_register_atexit_cb(id, write_counts, NULL);
    return 0;
}
