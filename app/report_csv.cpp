#include "app/app.h"

#include "inventory/inventory.h"

static bool IsDigit(WCHAR c)
{
    return c >= '0' && c <= '9';
}

static const WCHAR* SkipDigits(const WCHAR* text)
{
    while (IsDigit(*text))
        ++text;
    return text;
}

// A sign, digits, and a fraction: what a spreadsheet reads as a number and
// never as a formula, such as a negative usage count.
static bool IsPlainNumber(const WCHAR* text)
{
    if (*text == '+' || *text == '-')
        ++text;
    if (!IsDigit(*text))
        return false;
    text = SkipDigits(text);
    if (*text == '.') {
        if (!IsDigit(text[1]))
            return false;
        text = SkipDigits(text + 1);
    }
    return *text == 0;
}

// Registry text is data: a spreadsheet would run a field that begins like a
// formula, so such a field is written as text, after an apostrophe.
static bool MayReadAsFormula(const WCHAR* text)
{
    return *text != 0 && FindChar(TEXT("=+-@\t\r"), *text) != NULL && !IsPlainNumber(text);
}

void WriteCsvField(OutputFile& out, const WCHAR* text, bool first)
{
    if (!first)
        WriteBytes(out, ",", 1);
    bool quoted = ContainsAnyOf(text, TEXT(",\"\r\n"));
    if (quoted)
        WriteBytes(out, "\"", 1);
    if (MayReadAsFormula(text))
        WriteBytes(out, "'", 1);
    if (!quoted) {
        WriteUtf8(out, text);
        return;
    }
    for (;;) {
        const WCHAR* quote = FindChar(text, '"');
        if (quote == NULL)
            break;
        WriteUtf8Part(out, text, static_cast<size_t>(quote - text));
        WriteBytes(out, "\"\"", 2);
        text = quote + 1;
    }
    WriteUtf8(out, text);
    WriteBytes(out, "\"", 1);
}

void EndCsvRecord(OutputFile& out)
{
    WriteBytes(out, "\r\n", 2);
}
