/* The C interface from a C99 program linked against the shared library:
 *   vexlor_c_api_test WORKDIR [FAILING_DIR...]
 * patches, inspects and unpatches a bindings file in the empty directory WORKDIR, then runs
 * a patch (no waiting) in each FAILING_DIR and prints "<dir>\t<failure word>\t<message>" for
 * the caller to compare with the tool's words. Exits 1 at the first check that fails. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vexlor/bindings_c.h"

static const char kOriginal[] = "{\"bindings\": {}, \"keep\": 1}";

static int failures = 0;

#define CHECK(condition)                                                    \
    do {                                                                    \
        if (!(condition)) {                                                 \
            fprintf(stderr, "FAIL: %s at line %d\n", #condition, __LINE__); \
            failures++;                                                     \
        }                                                                   \
    } while (0)

static void countMessages(void* context, const char* message) {
    ++*(int*)context;
    CHECK(strncmp(message, "Vexlor[", 7) == 0);
}

static int contains(char* text, const char* part) {
    const int found = text != NULL && strstr(text, part) != NULL;
    if (!found) {
        fprintf(stderr, "no %s in %s\n", part, text != NULL ? text : "(null)");
    }
    vexlor_bindings_free(text);
    return found;
}

static char* readFile(const char* path) {
    static char bytes[4096];
    size_t size = 0;
    FILE* file = fopen(path, "rb");
    if (file != NULL) {
        size = fread(bytes, 1, sizeof bytes - 1, file);
        fclose(file);
    }
    bytes[size] = '\0';
    return bytes;
}

#if defined(_WIN32)
/* The wide form of a path names the same directory as its narrow (here: ASCII) form. */
static void wideFormsAgree(const char* dir) {
    wchar_t wide[1024];
    CHECK(mbstowcs(wide, dir, 1024) < 1024);
    CHECK(contains(vexlor_bindings_status_json_w(wide), "\"marker\":\"vexlor_patched_v2\""));
}
#else
static void wideFormsAgree(const char* dir) {
    (void)dir;
}
#endif

static void roundTrip(const char* dir) {
    char file[1024], absent[1024];
    char* result = NULL;
    char written[4096];
    int messages = 0;
    snprintf(file, sizeof file, "%s/vrcompositor_bindings_generic_hmd.json", dir);
    snprintf(absent, sizeof absent, "%s/absent", dir);
    remove(file);
    strcat(strcpy(written, file), ".vexlor_backup");
    remove(written); /* a run before this one, in a directory the build keeps */
    CHECK(vexlor_bindings_write_json(file, kOriginal, NULL, NULL) == VEXLOR_FAILURE_NONE);
    strcpy(written, readFile(file));
    CHECK(strstr(written, "\"keep\": 1") != NULL);
    CHECK(vexlor_bindings_write_json(file, "{\"cut\":", countMessages, &messages) ==
          VEXLOR_FAILURE_NOT_JSON);
    CHECK(messages == 1);
    CHECK(contains(vexlor_bindings_patch_plan_json(dir), "\"decision\":\"patch\""));

    CHECK(vexlor_bindings_patch(dir, 0, countMessages, &messages, &result) == 0);
    CHECK(contains(result, "\"outcome\":\"patched\""));
    CHECK(messages > 1);
    CHECK(strstr(readFile(file), "\"vexlor_patched_v2\": true") != NULL);
    CHECK(contains(vexlor_bindings_status_json(dir), "\"marker\":\"vexlor_patched_v2\""));
    CHECK(contains(vexlor_bindings_unpatch_plan_json(dir), "\"decision\":\"restore\""));
    wideFormsAgree(dir);

    CHECK(vexlor_bindings_unpatch(dir, 0, NULL, NULL, &result) == 0);
    CHECK(contains(result, "\"outcome\":\"restored\""));
    CHECK(strcmp(readFile(file), written) == 0);

    CHECK(vexlor_bindings_patch(absent, 0, NULL, NULL, &result) == VEXLOR_FAILURE_MISSING);
    CHECK(contains(result, "\"message\":\"no such directory: "));
    CHECK(vexlor_bindings_unpatch(NULL, 0, countMessages, &messages, NULL) == VEXLOR_FAILURE_OTHER);
    CHECK(strcmp(vexlor_bindings_failure_word(VEXLOR_FAILURE_BUSY), "busy") == 0);
    CHECK(strcmp(vexlor_bindings_failure_word(1000), "other") == 0);
}

/* Words are compared by the caller, against the tool's; here only that result and return
 * value agree. */
static void failing(const char* dir) {
    char* result = NULL;
    char word[64];
    const int kind = vexlor_bindings_patch(dir, 0, NULL, NULL, &result);
    const char* message = result != NULL ? strstr(result, "\"message\":\"") : NULL;
    CHECK(kind != VEXLOR_FAILURE_NONE && message != NULL);
    snprintf(word, sizeof word, "\"failure\":\"%s\"", vexlor_bindings_failure_word(kind));
    CHECK(result != NULL && strstr(result, word) != NULL);
    if (message != NULL) {
        message += strlen("\"message\":\"");
        printf("%s\t%s\t%.*s\n", dir, vexlor_bindings_failure_word(kind),
               (int)strcspn(message, "\""), message);
    }
    vexlor_bindings_free(result);
}

int main(int argc, char** argv) {
    int i;
    if (argc < 2) {
        fprintf(stderr, "usage: %s WORKDIR [FAILING_DIR...]\n", argv[0]);
        return 2;
    }
    CHECK(strcmp(vexlor_bindings_version(), "") != 0);
    roundTrip(argv[1]);
    for (i = 2; i < argc; ++i) {
        failing(argv[i]);
    }
    return failures == 0 ? 0 : 1;
}
