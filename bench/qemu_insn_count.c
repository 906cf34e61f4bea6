/* A plugin for qemu-user (qemu-i386 -plugin FILE,counts=PATH) that counts
 * the guest instructions the program executes. Whenever the program makes
 * the marker system call (number 0x4B45, which no kernel defines), the
 * plugin rewrites PATH with the count so far, before the call returns; the
 * program then reads it back (bench/inflate_bench.cpp, part (c)).
 *
 * Debian ships qemu-user with plugin support but without the plugin header,
 * so the few entry points used here are declared below as QEMU's plugin
 * interface (version 1, QEMU 6 to 8) defines them. Counting is inline: each
 * translated block adds its instruction count to one counter as it starts.
 * The guest is single-threaded, so one counter suffices. */
#include <inttypes.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
struct qemu_info_t;
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 = 0 };

typedef void (*tb_trans_cb)(qemu_plugin_id_t id, struct qemu_plugin_tb* tb);
typedef void (*syscall_cb)(qemu_plugin_id_t id, unsigned int vcpu, int64_t num, uint64_t a1, uint64_t a2,
                           uint64_t a3, uint64_t a4, uint64_t a5, uint64_t a6, uint64_t a7, uint64_t a8);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, tb_trans_cb cb);
void qemu_plugin_register_vcpu_syscall_cb(qemu_plugin_id_t id, syscall_cb cb);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb* tb);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb* tb, enum qemu_plugin_op op, void* ptr,
                                              uint64_t imm);

#define EXPORT __attribute__((visibility("default")))
EXPORT int qemu_plugin_version = 1;

static const int64_t MarkSyscall = 0x4B45;
static uint64_t executed;
static char countPath[4096];

static void OnTranslate(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
    (void)id;
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &executed, qemu_plugin_tb_n_insns(tb));
}

static void OnSyscall(qemu_plugin_id_t id, unsigned int vcpu, int64_t num, uint64_t a1, uint64_t a2, uint64_t a3,
                      uint64_t a4, uint64_t a5, uint64_t a6, uint64_t a7, uint64_t a8) {
    (void)id, (void)vcpu, (void)a1, (void)a2, (void)a3, (void)a4, (void)a5, (void)a6, (void)a7, (void)a8;
    if (num != MarkSyscall) return;
    FILE* f = fopen(countPath, "w");
    if (f == NULL) return;
    fprintf(f, "%" PRIu64 "\n", executed);
    fclose(f);
}

EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const struct qemu_info_t* info, int argc, char** argv) {
    (void)info;
    for (int i = 0; i < argc; i++)
        if (strncmp(argv[i], "counts=", 7) == 0) snprintf(countPath, sizeof countPath, "%s", argv[i] + 7);
    if (countPath[0] == 0) {
        fprintf(stderr, "qemu_insn_count: give counts=PATH\n");
        return -1;
    }
    qemu_plugin_register_vcpu_tb_trans_cb(id, OnTranslate);
    qemu_plugin_register_vcpu_syscall_cb(id, OnSyscall);
    return 0;
}
