#include "wizard/templates.h"

#include <windows.h>

#include <string.h>

#include "archive/script.h"

void* CopyTemplate(u32 n) {
    const LoadedBody& templates = setupScript.dialogTemplates;
    // The offset table ends where the first template begins; the loader
    // checked that every offset in it lies inside the record.
    if (templates.data == nullptr || 4 * n + 4 > ReadU32(templates.data)) return nullptr;
    // A fixed block: the folder browser hands its handle to the system's
    // file dialog, which shows an empty dialog for a moveable one on some
    // systems; dialogs created from the pointer do not mind either way.
    HGLOBAL handle = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, TemplateBlockSize);
    void* block = handle != nullptr ? GlobalLock(handle) : nullptr;
    if (block == nullptr) {
        if (handle != nullptr) GlobalFree(handle);
        return nullptr;
    }
    u32 offset = ReadU32(templates.data + 4 * n);
    u32 length = templates.size - offset;
    memcpy(block, templates.data + offset, length < TemplateBlockSize ? length : TemplateBlockSize);
    return block;
}

void FreeTemplate(void* block) {
    if (block == nullptr) return;
    HGLOBAL handle = GlobalHandle(block);
    GlobalUnlock(handle);
    GlobalFree(handle);
}
