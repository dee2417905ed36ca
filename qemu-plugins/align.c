// qemu TCG plugin: an ARM926 rotates a misaligned word load or traps on it,
// where qemu-user performs it as the program meant. This flags every
// halfword or word access not aligned to its size, and every ldrd/strd not
// on 8 bytes, once per instruction: a line on standard error and in the
// file given as log=FILE.
//   qemu-arm -plugin align.so,log=FILE PROGRAM
#include "qemu_plugin.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

QEMU_PLUGIN_EXPORT int qemu_plugin_version = 1;

// An instruction's address with PAIR set for ldrd/strd (addresses are even).
#define PAIR 1
static int log_fd = -1;
static int pair_pending;  // an ldrd/strd has started and not yet accessed memory

// Tells each flagged instruction once; a small table is enough, as a correct
// program has none.
static uint64_t told[64];
static size_t told_count;

static void flag(uint64_t pc, uint64_t vaddr, unsigned bytes, bool store)
{
    for (size_t i = 0; i < told_count; i++)
        if (told[i] == pc)
            return;
    if (told_count < sizeof told / sizeof told[0])
        told[told_count++] = pc;
    char line[128];
    int n = snprintf(line, sizeof line, "misaligned %u-byte %s at %#llx by the instruction at %#llx\n", bytes,
                     store ? "store" : "load", (unsigned long long)vaddr, (unsigned long long)pc);
    // Nothing can be done about a failed report here but the other one.
    if (write(2, line, (size_t)n) < 0 || (log_fd >= 0 && write(log_fd, line, (size_t)n) < 0))
        return;
}

static void on_access(unsigned int vcpu, qemu_plugin_meminfo_t info, uint64_t vaddr, void *userdata)
{
    (void)vcpu;
    uint64_t pc = (uintptr_t)userdata & ~(uint64_t)PAIR;
    unsigned bytes = 1u << qemu_plugin_mem_size_shift(info);
    if ((uintptr_t)userdata & PAIR) {
        if (pair_pending && (vaddr & 7))
            flag(pc, vaddr, 8, qemu_plugin_mem_is_store(info));
        pair_pending = 0;
    }
    if (vaddr & (bytes - 1))
        flag(pc, vaddr, bytes, qemu_plugin_mem_is_store(info));
}

static void on_pair(unsigned int vcpu, void *userdata)
{
    (void)vcpu, (void)userdata;
    pair_pending = 1;
}

// ldrd and strd in ARM state: bits 27-25 000, bit 20 clear, bits 7-4 11x1.
static bool is_pair(const struct qemu_plugin_insn *insn)
{
    if (qemu_plugin_insn_size(insn) != 4)
        return false;
    uint32_t w;
    memcpy(&w, qemu_plugin_insn_data(insn), 4);
    return (w >> 28) != 0xF && (w & 0x0E1000D0) == 0x000000D0;
}

static void on_translate(qemu_plugin_id_t id, struct qemu_plugin_tb *tb)
{
    (void)id;
    for (size_t i = 0; i < qemu_plugin_tb_n_insns(tb); i++) {
        struct qemu_plugin_insn *insn = qemu_plugin_tb_get_insn(tb, i);
        uintptr_t data = (uintptr_t)qemu_plugin_insn_vaddr(insn);
        if (is_pair(insn)) {
            data |= PAIR;
            qemu_plugin_register_vcpu_insn_exec_cb(insn, on_pair, QEMU_PLUGIN_CB_NO_REGS, NULL);
        }
        qemu_plugin_register_vcpu_mem_cb(insn, on_access, QEMU_PLUGIN_CB_NO_REGS, QEMU_PLUGIN_MEM_RW,
                                         (void *)data);
    }
}

QEMU_PLUGIN_EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t *info, int argc, char **argv)
{
    (void)info;
    for (int i = 0; i < argc; i++) {
        if (strncmp(argv[i], "log=", 4) != 0) {
            fprintf(stderr, "align: unknown argument %s\n", argv[i]);
            return -1;
        }
        log_fd = open(argv[i] + 4, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (log_fd < 0) {
            perror(argv[i] + 4);
            return -1;
        }
    }
    qemu_plugin_register_vcpu_tb_trans_cb(id, on_translate);
    return 0;
}
