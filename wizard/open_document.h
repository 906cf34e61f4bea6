// Opening the document an install set marks for viewing after setup.
#pragma once
#include "common/types.h"

// Opens documentEntry's installed file with the program its type is
// associated with; does nothing when there is none or it was not installed.
void OpenDocument();

// Opens `path` through the shell, or else through the open command of the
// class of `type` (".txt") read from the registry. Above 32 when the shell
// opened it.
u32 OpenWithAssociation(const char* path, const char* type);
