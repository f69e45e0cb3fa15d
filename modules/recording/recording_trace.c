#include "recording_trace.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>

extern char** environ;

static int g_in_flight; /* invocations running now, across threads */

static void write_unit(FILE* out, uint16_t unit) {
    if (unit >= 0x21 && unit < 0x7f && unit != '\\') {
        fputc(unit, out);
    } else {
        fprintf(out, "\\u%04x", unit);
    }
}

static void write_arg(FILE* out, const zqt_value* arg) {
    uint32_t i;
    switch (arg->vt) {
        case ZQT_VT_BSTR:
            fputs(" BSTR:", out);
            for (i = 0; i < arg->len; ++i) {
                write_unit(out, arg->str[i]);
            }
            break;
        case ZQT_VT_I4:
            fprintf(out, " I4:%d", (int)arg->i4);
            break;
        default:
            fprintf(out, " UI4:%u", (unsigned)arg->ui4);
            break;
    }
}

static void pause_if_asked(void) {
    const char* delay = getenv("ZQT_RECORDING_DELAY_MS");
    long ms = delay != NULL ? strtol(delay, NULL, 10) : 0;
    if (ms > 0) {
        struct timespec ts;
        ts.tv_sec = ms / 1000;
        ts.tv_nsec = (ms % 1000) * 1000000L;
        /* A signal handled by the host must not cut the delay short. */
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
    }
}

/* Runs ZQT_RECORDING_SPAWN, a program and its arguments separated by spaces
 * (no shell: a shell may reset its signal mask), with its output appended to
 * ZQT_RECORDING_SPAWN_OUT, the way a vendor module starts a helper: plain
 * posix_spawn, so the child gets this thread's signal mask. */
static void spawn_if_asked(void) {
    const char* command = getenv("ZQT_RECORDING_SPAWN");
    const char* out = getenv("ZQT_RECORDING_SPAWN_OUT");
    char words[512];
    char* argv[9];
    size_t argc = 0;
    char* cursor;
    posix_spawn_file_actions_t actions;
    pid_t pid;
    int status;
    if (command == NULL || *command == '\0' || strlen(command) >= sizeof words) {
        return;
    }
    strcpy(words, command);
    for (cursor = strtok(words, " "); cursor != NULL && argc < 8; cursor = strtok(NULL, " ")) {
        argv[argc++] = cursor;
    }
    argv[argc] = NULL;
    if (argc == 0 || posix_spawn_file_actions_init(&actions) != 0) {
        return;
    }
    if (out != NULL && *out != '\0') {
        posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_APPEND, 0600);
    }
    if (posix_spawnp(&pid, argv[0], &actions, NULL, argv, environ) == 0) {
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

void zqt_trace_enter(const char* class_id, int32_t dispid, const zqt_value* args, uint32_t argc) {
    const char* path = getenv("ZQT_RECORDING_TRACE");
    int before = __atomic_fetch_add(&g_in_flight, 1, __ATOMIC_SEQ_CST);
    FILE* out;
    uint32_t i;
    spawn_if_asked();
    if (path == NULL || *path == '\0') {
        pause_if_asked();
        return;
    }
    out = fopen(path, "a");
    if (out != NULL) {
        if (before > 0) {
            fputs("OVERLAP\n", out);
        }
        fprintf(out, "%s %d", class_id, (int)dispid);
        for (i = 0; i < argc; ++i) {
            write_arg(out, &args[i]);
        }
        fputc('\n', out);
        fclose(out);
    }
    pause_if_asked();
}

void zqt_trace_leave(void) {
    __atomic_fetch_sub(&g_in_flight, 1, __ATOMIC_SEQ_CST);
}

void zqt_trace_caller(const char* class_id, const uint16_t* origin, uint32_t length) {
    const char* path = getenv("ZQT_RECORDING_CALLER_TRACE");
    FILE* out;
    uint32_t i;
    if (path == NULL || *path == '\0') {
        return;
    }
    out = fopen(path, "a");
    if (out == NULL) {
        return;
    }
    fprintf(out, "%s CALLER ", class_id);
    for (i = 0; i < length; ++i) {
        write_unit(out, origin[i]);
    }
    fputc('\n', out);
    fclose(out);
}
