#pragma once

// Every text the program shows, in one place, so its words can be read together.

#define TEXT_PRODUCT_NAME TEXT("Burrowlens")
#define TEXT_UNKNOWN TEXT("Unknown")

#define TEXT_KEY_ACCESS_DENIED TEXT("Error: unable to open key due to security reasons.")
#define FORMAT_KEY_OPEN_FAILED TEXT("Error: Unable to open key, RegOpenKey = %d, Line = %d")

#define TEXT_NO_CONTROLS                                                                           \
    TEXT("Burrowlens reports on ActiveX\ncontrols installed on this computer.\n\nNo controls "     \
         "have been registered for this machine.")

#define TEXT_ORIGIN_DOWNLOAD TEXT("Download from Net")
#define TEXT_ORIGIN_TYPELIB TEXT("Not Downloaded")
#define TEXT_CATEGORY_SEPARATOR TEXT("; ")
#define TEXT_SCRIPTABLE TEXT("Scriptable")
#define TEXT_INITIALIZED_FROM_DATA TEXT("Initialized from data")
#define TEXT_FOLDER TEXT("Folder")
#define TEXT_FILE_MISSING TEXT("File is not in registered location")
#define TEXT_TYPE_CONTROL TEXT("ActiveX Control")
#define TEXT_TYPE_APPLICATION TEXT("Application")
#define TEXT_TYPE_EXTENSION TEXT("Application Extension")
#define TEXT_TYPE_TYPELIB TEXT("Type Library")

#define TEXT_WARNING_CAPTION TEXT("Warning!")
#define FORMAT_NOT_DOWNLOADED_WARNING                                                              \
    TEXT("WARNING!!!  The file:\n%s\nwas *NOT* installed from the Web!\nIt is most likely needed " \
         "for an application.\n\nAre you *SURE* you want to delete it?")
#define FORMAT_DELETE_REGISTRY_ENTRY                                                               \
    TEXT("Are you sure you want to delete\nthe registry entry for\n%s?")
#define FORMAT_DELETE_FILE TEXT("Are you sure you want to DELETE\n%s?")
#define FORMAT_DELETE_SHARED_FILE                                                                  \
    TEXT(                                                                                          \
        "Other programs may rely on this\ncontrol to function properly.\n\nAre you SURE you want " \
        "to DELETE\n%s?")
#define FORMAT_ACCESS_DENIED TEXT("Unable to delete file:\n%s\nAccess is denied.")

// What Delete finds before its first change that would stop it halfway: the
// file or key, and the system's words for why. Access denied to a file reads
// as it always has.
#define FORMAT_CHECK_FILE TEXT("Unable to delete file:\n%s\n%s")
#define FORMAT_CHECK_PROTECTED TEXT("Unable to delete file:\n%s\nWindows protects this file.")
#define FORMAT_CHECK_KEY TEXT("Unable to delete the registry key:\n%s\n%s")
#define FORMAT_ERROR_NUMBER TEXT("Error %d.")

// Undoing a Delete: the question about a download's other files, and why a
// Delete changed nothing when its restore folder could not be written.
#define TEXT_DELETE_OTHER_FILES                                                                    \
    TEXT("This control was downloaded with other files\nthat nothing else is known to use:\n")
#define TEXT_DELETE_OTHER_FILES_QUESTION TEXT("\nDo you want to DELETE them too?")
#define FORMAT_RESTORE_FAILED                                                                      \
    TEXT("Nothing was deleted: Burrowlens could not save a copy\nof what the Delete would "        \
         "remove.\n\n%s\n%s")
#define FORMAT_RESTORE_NO_PROFILE                                                                  \
    TEXT("Unable to find the local application data folder (error %d).")
#define FORMAT_RESTORE_FOLDER TEXT("Unable to create the folder (error %d):")
#define FORMAT_RESTORE_WRITE TEXT("Unable to write the file (error %d):")
#define FORMAT_RESTORE_COPY TEXT("Unable to copy the file (error %d):")
#define FORMAT_RESTORE_REGISTRY TEXT("Unable to read the registry key (error %d):")
#define FORMAT_RESTORE_CHECK TEXT("The file does not read back as it was written (error %d):")
#define FORMAT_RESTORE_NAME TEXT("A restore file cannot name this safely (error %d):")
#define FORMAT_RESTORE_FINISH TEXT("Unable to rename the finished folder (error %d):")

// The command line and the report. The columns follow the dialog's fields
// from top to bottom; the version strings' own names follow them.
#define TEXT_REPORT_COLUMNS                                                                        \
    TEXT("Control File,Control,Publisher,Usage Count,File Type,Origin,Installed,Last Change,"      \
         "Last Access,Version,Copyright,Size,Categories")
#define TEXT_USAGE                                                                                 \
    TEXT("Usage: burrowlens.exe [/report FILE | /remove ENTRY [/bits 32|64] [/force] [/shared] "   \
         "[/files]]\n\nWithout arguments, Burrowlens shows its window.\n\n/report FILE\twrites "   \
         "every control of the list and its details to FILE as CSV (UTF-8), and shows no "         \
         "window.\n\n/remove ENTRY\tremoves the control that the list shows as ENTRY, as Delete "  \
         "does, and asks nothing: /bits picks the view when both have ENTRY; /force lets a "       \
         "control go that was not downloaded, /shared a file that others may use, /files a "       \
         "download's other files. Prints the restore folder.\n\nExit status: 0 written or "        \
         "removed; 1 FILE could not be written; 2 arguments not understood; 3 some registry keys " \
         "could not be opened; 4 no such entry, or one in each view; 5 refused, nothing changed; " \
         "6 stopped after changes began, which the restore folder holds.")
// The last column: the view of each entry, 32 or 64.
#define TEXT_REPORT_BITS_COLUMN TEXT("Bits")
#define FORMAT_REPORT_WRITE TEXT("Unable to write the report (error %d):")
#define TEXT_REPORT_NO_MEMORY TEXT("Not enough memory to list every control.")
#define FORMAT_REMOVE_NEEDS_FORCE                                                                  \
    TEXT("Not removed: %s was not installed from the Web. /force removes it all the same.")
#define FORMAT_REMOVE_NEEDS_SHARED                                                                 \
    TEXT("Not removed: other programs may rely on %s. /shared removes it all the same.")
#define FORMAT_REMOVE_NO_ENTRY TEXT("No entry of the control list is %s")
#define FORMAT_REMOVE_AMBIGUOUS                                                                    \
    TEXT("Both registry views list %s: /bits 32 or /bits 64 says which to remove.")
#define FORMAT_REMOVE_UNFINISHED                                                                   \
    TEXT("The removal stopped after it began. restore.cmd in this folder puts back what it "       \
         "changed:\n%s")
