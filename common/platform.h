// The platform the program runs on, read once at start-up by both Windows
// programs. The restart operations choose their mechanism by it (NT's
// MoveFileEx, or WININIT.INI on Windows 95/98); tests set it to try the other.
#pragma once

extern bool isNt;

// True on the NT platform.
bool IsNtPlatform();

// The user's interface language (a Windows language id): the language of the
// system's menus and dialogs where the system knows one (Windows 2000 and
// later), else the user's default language.
unsigned short UserInterfaceLanguage();
