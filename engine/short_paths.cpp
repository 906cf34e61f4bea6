// Shortening paths for display; portable, so the rule is tested natively.
#include <string.h>

#include "common/helpers.h"
#include "engine/short_paths.h"

void ShortenPath(char* text, u32 limit) {
    u32 length = static_cast<u32>(strlen(text));
    if (length <= limit) return;
    // Cuts fall after backslashes only, which never split a character.
    const char* firstSlash = FirstBackslash(text);
    const char* lastSlash = LastBackslash(text);
    if (firstSlash == nullptr) return;
    u32 first = static_cast<u32>(firstSlash - text), last = static_cast<u32>(lastSlash - text);
    if (last - first < 4) return;
    u32 tail = length - last;  // the file name with its backslash
    u32 cut = first + 1;
    for (u32 current = first;;) {
        if (last - current < 4 || tail + current >= limit) break;
        cut = current + 1;
        const char* next = FirstBackslash(text + cut);
        if (next == nullptr) break;
        current = static_cast<u32>(next - text);
    }
    // "..." and the tail never need more room than the text had.
    memmove(text + cut + 3, text + last, tail + 1);
    memcpy(text + cut, "...", 3);
}
