#pragma once

// Every text the program shows, in one place, so its words can be read together.

#define TEXT_PRODUCT_NAME "Burrowlens"
#define TEXT_UNKNOWN "Unknown"

#define TEXT_KEY_ACCESS_DENIED "Error: unable to open key due to security reasons."
#define FORMAT_KEY_OPEN_FAILED "Error: Unable to open key, RegOpenKey = %d, Line = %d"

#define TEXT_NO_CONTROLS                                                                           \
    "Burrowlens reports on ActiveX\ncontrols installed on this computer.\n\nNo controls "          \
    "have been registered for this machine."

#define TEXT_ORIGIN_DOWNLOAD "Download from Net"
#define TEXT_ORIGIN_TYPELIB "Not Downloaded"
#define TEXT_CATEGORY_SEPARATOR "; "
#define TEXT_SCRIPTABLE "Scriptable"
#define TEXT_INITIALIZED_FROM_DATA "Initialized from data"
#define TEXT_FOLDER "Folder"
#define TEXT_FILE_MISSING "File is not in registered location"
#define TEXT_TYPE_CONTROL "ActiveX Control"
#define TEXT_TYPE_APPLICATION "Application"
#define TEXT_TYPE_EXTENSION "Application Extension"
#define TEXT_TYPE_TYPELIB "Type Library"

#define TEXT_WARNING_CAPTION "Warning!"
#define FORMAT_NOT_DOWNLOADED_WARNING                                                              \
    "WARNING!!!  The file:\n%s\nwas *NOT* installed from the Web!\nIt is most likely needed "      \
    "for an application.\n\nAre you *SURE* you want to delete it?"
#define FORMAT_DELETE_REGISTRY_ENTRY "Are you sure you want to delete\nthe registry entry for\n%s?"
#define FORMAT_DELETE_FILE "Are you sure you want to DELETE\n%s?"
#define FORMAT_DELETE_SHARED_FILE                                                                  \
    "Other programs may rely on this\ncontrol to function properly.\n\nAre you SURE you want "     \
    "to DELETE\n%s?"
#define FORMAT_ACCESS_DENIED "Unable to delete file:\n%s\nAccess is denied."
