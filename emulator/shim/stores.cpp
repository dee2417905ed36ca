// Catching the program's stores to the display controller's registers.
//
// Plain shared memory cannot model a write-1-to-clear flag: acknowledging
// the sync writes back the value just read, which changes nothing. So the
// pages holding DISPLAY_STATUS and the layer registers stay read-only in the
// program. A store faults; the fault handler puts a private writable copy of
// the page in place and single-steps the one instruction; the trap handler
// then reads what was stored, puts the shared read-only page back, and hands
// the store to the controller's write handler (clearing the flag, keeping
// the palette entry) and to ROOT/regwrites.log. Reads cost nothing.
//
// What this cannot observe or keeps from the program: stores made by another
// thread while one is being stepped; the program's own SIGSEGV or SIGTRAP
// handlers (they replace these); a debugger (it takes the trace trap). Only
// x86-64 can single-step this way. Elsewhere (qemu user mode included) no
// store is seen: the shim leaves ROOT/sync-untrapped, the controller then
// pulses the flag, palette writes go unseen and nothing is logged.
#undef _FILE_OFFSET_BITS
#undef _FORTIFY_SOURCE
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "display_model.h"
#include "device_folder.h"
#include "shim.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

static const uint64_t PAGE = 4096;
// Physical pages whose stores the controller must see.
static const uint64_t trapped_phys[] = {REGS_PHYS + (DC_STATUS & ~0xFFFu), REGS_PHYS + DC_BLOCK_PRIMARY};

#if defined(__x86_64__)

struct trapped_page {
    uint8_t *page;   // in the program's mapping
    uint64_t phys;
};

static trapped_page pages[16];
static int page_count;
static int mem_fd = -1, log_fd = -1;
static volatile uint32_t *regs;        // our own writable view of the window
static display_state dc;               // the write handler's view of the controller
static trapped_page *stepping;         // page swapped for a private copy
static uint8_t before[4096];           // the page as it was when swapped
static uintptr_t fault_word;
static struct sigaction old_segv, old_trap;

static void log_store(uint32_t offset, uint32_t value)
{
    static const char hex[] = "0123456789abcdef";
    char line[14];
    for (int i = 0; i < 4; i++)
        line[i] = hex[(offset >> (12 - 4 * i)) & 0xF];
    line[4] = ' ';
    for (int i = 0; i < 8; i++)
        line[5 + i] = hex[(value >> (28 - 4 * i)) & 0xF];
    line[13] = '\n';
    if (log_fd >= 0 && write(log_fd, line, sizeof line) != (ssize_t)sizeof line) {
        // nothing to do from inside a signal handler; the log's reader sees the gap
    }
}

static void pass_on(const struct sigaction *old, int sig, siginfo_t *si, void *ctx)
{
    if (old->sa_flags & SA_SIGINFO) {
        old->sa_sigaction(sig, si, ctx);
    } else if (old->sa_handler != SIG_DFL && old->sa_handler != SIG_IGN) {
        old->sa_handler(sig);
    } else {
        // Returning re-runs the instruction, which now meets the default action.
        signal(sig, SIG_DFL);
    }
}

static void on_segv(int sig, siginfo_t *si, void *ctx)
{
    errno_guard keep;
    uintptr_t at = (uintptr_t)si->si_addr;
    trapped_page *t = nullptr;
    for (int i = 0; i < page_count; i++)
        if (at - (uintptr_t)pages[i].page < PAGE)
            t = &pages[i];
    if (!t || si->si_code != SEGV_ACCERR || stepping) {
        pass_on(&old_segv, sig, si, ctx);
        return;
    }
    const uint8_t *shared = (const uint8_t *)regs + (t->phys - REGS_PHYS);
    memcpy(before, shared, PAGE);
    syscall(SYS_mmap, t->page, PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    memcpy(t->page, before, PAGE);
    stepping = t;
    fault_word = (at - (uintptr_t)t->page) & ~(uintptr_t)3;
    ((ucontext_t *)ctx)->uc_mcontext.gregs[REG_EFL] |= 0x100;   // trap flag
}

static void on_trap(int sig, siginfo_t *si, void *ctx)
{
    errno_guard keep;
    if (!stepping) {
        pass_on(&old_trap, sig, si, ctx);
        return;
    }
    trapped_page *t = stepping;
    uint32_t stored[1024];
    memcpy(stored, t->page, PAGE);
    syscall(SYS_mmap, t->page, PAGE, PROT_READ, MAP_SHARED | MAP_FIXED, mem_fd, t->phys);
    ((ucontext_t *)ctx)->uc_mcontext.gregs[REG_EFL] &= ~0x100;
    stepping = nullptr;
    // The faulting word always counts as stored, even when its value did
    // not change; any other changed word was stored by the same instruction.
    for (uint32_t i = 0; i < 1024; i++) {
        uint32_t was;
        memcpy(&was, before + 4 * i, 4);
        if (4 * i != fault_word && stored[i] == was)
            continue;
        uint32_t offset = (uint32_t)(t->phys - REGS_PHYS) + 4 * i;
        display_write(&dc, offset, stored[i]);
        log_store(offset, stored[i]);
    }
}

static int start_trapping(void)
{
    if (regs)
        return 0;
    mem_fd = open_in_root(EMU_MEM, O_RDWR);
    if (mem_fd < 0)
        return -1;
    // The raw call bypasses the shim's own mmap; it returns the address as a number.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    void *m = (void *)syscall(SYS_mmap, nullptr, REGS_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, mem_fd, REGS_PHYS);
    if (m == MAP_FAILED) {
        real_close(mem_fd);
        mem_fd = -1;
        return -1;
    }
    regs = (volatile uint32_t *)m;
    dc.regs = regs;
    emu_shared *shared = shim_shared();
    dc.palette = shared ? shared->palette : nullptr;
    log_fd = open_in_root(EMU_REGWRITES_LOG, O_WRONLY | O_APPEND | O_CREAT);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    sa.sa_sigaction = on_segv;
    sigaction(SIGSEGV, &sa, &old_segv);
    sa.sa_sigaction = on_trap;
    sigaction(SIGTRAP, &sa, &old_trap);
    return 0;
}

void trap_window(void *map, uint64_t phys, size_t len, int prot, int flags)
{
    errno_guard keep;
    if (!(prot & PROT_WRITE) || !(flags & MAP_SHARED))
        return;
    for (uint64_t p : trapped_phys) {
        if (p < phys || p + PAGE > phys + len || (phys & (PAGE - 1)) || page_count == 16)
            continue;
        if (start_trapping())
            break;
        uint8_t *page = (uint8_t *)map + (p - phys);
        mprotect(page, PAGE, prot & ~PROT_WRITE);
        pages[page_count++] = {page, p};
    }
}

void trap_forget(void *addr, size_t len)
{
    for (int i = 0; i < page_count;) {
        if ((uintptr_t)pages[i].page - (uintptr_t)addr < len)
            pages[i] = pages[--page_count];
        else
            i++;
    }
}

#else

void trap_window(void *map, uint64_t phys, size_t len, int prot, int flags)
{
    errno_guard keep;
    uint64_t status = REGS_PHYS + DC_STATUS;
    if (phys <= status && status + 4 <= phys + len && (prot & PROT_WRITE) && (flags & MAP_SHARED)) {
        int fd = open_in_root(EMU_UNTRAPPED_MARK, O_WRONLY | O_CREAT);
        if (fd >= 0)
            real_close(fd);
        // A flag raised before the controller learnt to pulse it would stay
        // set for ever: start the program between two syncs instead.
        __atomic_fetch_and((uint32_t *)((uint8_t *)map + (status - phys)), ~DC_STATUS_SYNC, __ATOMIC_SEQ_CST);
    }
}

void trap_forget(void *addr, size_t len)
{
    (void)addr;
    (void)len;
}

#endif
