#include "common/helpers.h"

#include <string.h>

const u8* NextListEntry(const u8* entry) {
    return entry + (entry[0] | (entry[1] << 8));
}

void AppendBackslash(char* path) {
    size_t length = strlen(path);
    if (length != 0 && path[length - 1] != '\\') {
        path[length] = '\\';
        path[length + 1] = '\0';
    }
}

void RemoveTrailingBackslash(char* path) {
    size_t length = strlen(path);
    if (length > 3 && path[length - 1] == '\\') path[length - 1] = '\0';
}
