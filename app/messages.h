#pragma once

// Every text the program shows in a message box, in one place.

#define TEXT_PRODUCT_NAME "Burrowlens"
#define TEXT_UNKNOWN "Unknown"

#define TEXT_KEY_ACCESS_DENIED "Error: unable to open key due to security reasons."
#define FORMAT_KEY_OPEN_FAILED "Error: Unable to open key, RegOpenKey = %d, Line = %d"

#define TEXT_NO_CONTROLS                                                                   \
    "Burrowlens reports on ActiveX\ncontrols installed on this computer.\n\nNo controls " \
    "have been registered for this machine."
