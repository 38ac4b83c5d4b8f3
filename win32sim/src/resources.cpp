#include "internal.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

constexpr WORD kTypeDialog = 5;

// Reads the little-endian structures of a compiled resource file.
struct Reader {
    const std::vector<BYTE>& bytes;
    size_t at;

    void Need(size_t count) const
    {
        if (at + count > bytes.size()) {
            std::fprintf(stderr, "win32sim: %s is cut short\n", BURROWLENS_RES);
            std::abort();
        }
    }
    WORD Word()
    {
        Need(2);
        WORD value = static_cast<WORD>(bytes[at] | bytes[at + 1] << 8);
        at += 2;
        return value;
    }
    DWORD Dword()
    {
        DWORD low = Word();
        return low | static_cast<DWORD>(Word()) << 16;
    }
    short Short()
    {
        return static_cast<short>(Word());
    }
    void AlignDword()
    {
        at = (at + 3) & ~size_t{3};
    }
    std::u16string String()
    {
        std::u16string text;
        for (WORD c = Word(); c; c = Word())
            text += static_cast<WCHAR>(c);
        return text;
    }
    // A sz_or_ord field: 0xFFFF then an ordinal, or a string.
    std::u16string NameOrOrdinal(int* ordinal)
    {
        *ordinal = -1;
        Need(2);
        if (bytes[at] == 0xFF && bytes[at + 1] == 0xFF) {
            at += 2;
            *ordinal = Word();
            return std::u16string();
        }
        return String();
    }
};

WindowKind KindOf(int atom, const std::u16string& name)
{
    if (atom == 0x80 || EqualNoCase(name, u"Button"))
        return WindowKind::Button;
    if (atom == 0x82 || EqualNoCase(name, u"Static"))
        return WindowKind::Static;
    if (atom == 0x83 || EqualNoCase(name, u"ListBox"))
        return WindowKind::ListBox;
    return WindowKind::Other;
}

DialogTemplate ReadDialog(Reader in)
{
    DialogTemplate dialog;
    dialog.style = in.Dword();
    if (dialog.style == 0xFFFF0001) {
        std::fprintf(stderr, "win32sim: DIALOGEX templates are not read\n");
        std::abort();
    }
    in.Dword(); // extended style
    WORD count = in.Word();
    dialog.x = in.Short();
    dialog.y = in.Short();
    dialog.cx = in.Short();
    dialog.cy = in.Short();
    int ordinal;
    in.NameOrOrdinal(&ordinal); // menu
    in.NameOrOrdinal(&ordinal); // class
    dialog.caption = in.String();
    if (dialog.style & DS_SETFONT) {
        in.Word();
        in.String();
    }
    for (WORD i = 0; i < count; ++i) {
        in.AlignDword();
        ControlTemplate control;
        control.style = in.Dword();
        in.Dword(); // extended style
        control.x = in.Short();
        control.y = in.Short();
        control.cx = in.Short();
        control.cy = in.Short();
        control.id = in.Word(); // a WORD: IDC_STATIC reads back as 65535
        int atom;
        std::u16string className = in.NameOrOrdinal(&atom);
        control.kind = KindOf(atom, className);
        // An ordinal title names an icon or bitmap resource, not text.
        control.text = in.NameOrOrdinal(&ordinal);
        WORD extra = in.Word();
        in.Need(extra);
        in.at += extra;
        dialog.controls.push_back(control);
    }
    return dialog;
}

struct NamedDialog {
    int ordinal;
    std::u16string name;
    DialogTemplate dialog;
};

std::vector<NamedDialog> LoadDialogs()
{
    std::ifstream file(BURROWLENS_RES, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "win32sim: cannot read %s\n", BURROWLENS_RES);
        std::abort();
    }
    std::vector<BYTE> bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    std::vector<NamedDialog> dialogs;
    Reader in{bytes, 0};
    while (in.at + 8 <= bytes.size()) {
        size_t start = in.at;
        DWORD dataSize = in.Dword();
        DWORD headerSize = in.Dword();
        int typeOrdinal, nameOrdinal;
        in.NameOrOrdinal(&typeOrdinal);
        std::u16string name = in.NameOrOrdinal(&nameOrdinal);
        size_t data = start + headerSize;
        if (typeOrdinal == kTypeDialog)
            dialogs.push_back(NamedDialog{nameOrdinal, name, ReadDialog(Reader{bytes, data})});
        in.at = data + dataSize;
        in.AlignDword();
    }
    return dialogs;
}

} // namespace

// Resource names are matched as FindResource does: an ordinal by value, a
// string without regard to case.
const DialogTemplate* FindDialogTemplate(LPCWSTR name)
{
    static const std::vector<NamedDialog> dialogs = LoadDialogs();
    for (const NamedDialog& entry : dialogs) {
        bool match = IS_INTRESOURCE(name)
                         ? entry.ordinal == static_cast<int>(reinterpret_cast<ULONG_PTR>(name))
                         : entry.ordinal < 0 && EqualNoCase(entry.name, WideOf(name));
        if (match)
            return &entry.dialog;
    }
    return nullptr;
}
