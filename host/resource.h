// Resource identifiers of Korvela.exe.
#pragma once

#define IDI_APP_ICON 101
