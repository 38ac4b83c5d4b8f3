#include "app/control_ids.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(DialogTemplateTest, ControlsComeFromTheResourceScript)
{
    WithMainDialog([](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_CONTROL_LIST);
        ASSERT_NE(nullptr, list);

        EXPECT_EQ(IDC_CONTROL_LIST, GetDlgCtrlID(list));
        EXPECT_EQ(dialog, GetParent(list));
        EXPECT_EQ(nullptr, GetParent(dialog));
        EXPECT_EQ(nullptr, GetDlgItem(dialog, 4242));
        WCHAR caption[32];
        EXPECT_EQ(10, GetWindowTextW(dialog, caption, 32));
        EXPECT_EQ("Burrowlens", Utf8(caption));
        EXPECT_EQ("Unknown", DialogItemText(dialog, IDC_PUBLISHER));
    });
}

// A DIALOG template's WS_BORDER becomes a sunken client edge, and a list's
// WS_VSCROLL shows only while its bar does.
TEST(DialogTemplateTest, StylesAreTheTemplatesAsWindowsAppliesThem)
{
    WithMainDialog([](HWND dialog) {
        LONG list = GetWindowLongW(GetDlgItem(dialog, IDC_CONTROL_LIST), GWL_STYLE);
        LONG info = GetWindowLongW(GetDlgItem(dialog, IDC_FILE_INFO_LIST), GWL_STYLE);
        LONG remove = GetWindowLongW(GetDlgItem(dialog, IDC_DELETE), GWL_STYLE);

        EXPECT_EQ(LBS_SORT | LBS_NOTIFY | WS_CHILD,
                  list & (LBS_SORT | LBS_NOTIFY | WS_CHILD | WS_BORDER | WS_VSCROLL));
        EXPECT_EQ(0, info & LBS_SORT);
        EXPECT_EQ(WS_DISABLED, remove & WS_DISABLED);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_DELETE)));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_REFRESH)));
    });
}

// Widths follow MapDialogRect with a base width of 6; the list loses its
// two-pixel edge on each side.
TEST(DialogTemplateTest, WidthsAreInDialogUnits)
{
    WithMainDialog([](HWND dialog) {
        RECT client;

        ASSERT_TRUE(GetClientRect(dialog, &client));
        EXPECT_EQ(629, client.right);
        ASSERT_TRUE(GetClientRect(GetDlgItem(dialog, IDC_CONTROL_LIST), &client));
        EXPECT_EQ(298, client.right);
    });
}

TEST(DialogTemplateTest, EnableWindowAnswersWhetherItWasDisabled)
{
    WithMainDialog([](HWND dialog) {
        HWND button = GetDlgItem(dialog, IDC_DELETE);
        const struct {
            BOOL enable;
            bool wasDisabled;
        } steps[] = {{TRUE, true}, {TRUE, false}, {FALSE, false}, {FALSE, true}};
        for (const auto& step : steps) {
            SCOPED_TRACE(testing::Message() << "step " << (&step - steps));
            EXPECT_EQ(step.wasDisabled, EnableWindow(button, step.enable) != FALSE);
            EXPECT_EQ(step.enable != FALSE, IsWindowEnabled(button) != FALSE);
        }
    });
}

// Sizes count UTF-16 code units, the NUL included.
TEST(DialogTextTest, GetDlgItemTextCutsToTheBuffer)
{
    WithMainDialog([](HWND dialog) {
        ASSERT_TRUE(SetDlgItemTextW(dialog, IDC_VERSION, Wide("Ωmega 1.2").c_str()));
        const struct {
            int id;
            int size;
            UINT answer;
            const char* text;
        } cases[] = {
            {IDC_VERSION, 16, 9, "Ωmega 1.2"},
            {IDC_VERSION, 10, 9, "Ωmega 1.2"},
            {IDC_VERSION, 4, 3, "Ωme"},
            {IDC_VERSION, 0, 0, "kept"},
            {4242, 16, 0, ""},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.id << " into " << c.size);
            WCHAR text[16] = TEXT("kept");

            EXPECT_EQ(c.answer, GetDlgItemTextW(dialog, c.id, text, c.size));

            EXPECT_EQ(c.text, Utf8(text));
        }
        EXPECT_FALSE(SetDlgItemTextW(dialog, 4242, TEXT("x")));
    });
}

// A field shows registry text as it is, unpaired surrogates and all.
TEST(DialogTextTest, FieldsKeepEveryCodeUnit)
{
    const WideText texts[] = {
        WideText{'C', ':', '\\', 0xD800, '.', 'o', 'c', 'x'},
        WideText{0xDFFF, 'x', 0xDBFF, 0xDFFF, 0xFFFF},
        Wide("Жук ｃ Ωmega"),
    };
    WithMainDialog([&](HWND dialog) {
        for (const WideText& text : texts) {
            SCOPED_TRACE(Utf8(text));
            WCHAR shown[16];
            for (WCHAR& c : shown)
                c = '#';
            ASSERT_TRUE(SetDlgItemTextW(dialog, IDC_PUBLISHER, text.c_str()));

            EXPECT_EQ(text.size(), GetDlgItemTextW(dialog, IDC_PUBLISHER, shown, 15));

            EXPECT_EQ(text + WCHAR(0), WideText(shown, text.size() + 1));
            EXPECT_EQ('#', shown[15]);
        }
    });
}

static INT_PTR CALLBACK EndOnAppMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        PostMessageW(dialog, WM_APP, 5, 0);
        return TRUE;
    }
    if (message == WM_APP) {
        EndDialog(dialog, static_cast<INT_PTR>(wParam));
        return TRUE;
    }
    return FALSE;
}

TEST(ModalLoopTest, DispatchesMessagesPostedDuringInitialisation)
{
    EXPECT_EQ(5, DialogBoxParamW(GetModuleHandleW(NULL), IDD_MAIN, NULL, EndOnAppMessage, 0));
}

TEST(ModalLoopTest, AnEndedDialogIsDestroyed)
{
    HWND ended = NULL;
    WithMainDialog([&](HWND dialog) { ended = dialog; });

    EXPECT_FALSE(IsWindow(ended));
    EXPECT_FALSE(PostMessageW(ended, WM_APP, 0, 0));
}

TEST(ModalLoopTest, UnknownTemplateAnswersMinusOne)
{
    EXPECT_EQ(-1, DialogBoxParamW(GetModuleHandleW(NULL), TEXT("NO_SUCH_DIALOG"), NULL,
                                  EndOnAppMessage, 0));
}

// What DefDlgProc makes of a close from the system menu that the dialog
// procedure leaves alone: WM_CLOSE, then a posted IDCANCEL from the Cancel
// button (here Exit, whose id is IDCANCEL).
static INT_PTR CALLBACK CloseItself(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        bool fromExit = reinterpret_cast<HWND>(lParam) == GetDlgItem(dialog, IDCANCEL);
        EndDialog(dialog, fromExit ? static_cast<INT_PTR>(wParam) : -2);
        return TRUE;
    }
    return FALSE;
}

TEST(ModalLoopTest, CloseFromTheSystemMenuBecomesCancel)
{
    EXPECT_EQ(MAKEWPARAM(IDCANCEL, BN_CLICKED),
              static_cast<WPARAM>(
                  DialogBoxParamW(GetModuleHandleW(NULL), IDD_MAIN, NULL, CloseItself, 0)));
}

// The About box runs inside the main dialog: the main dialog is disabled
// meanwhile, and the inner loop delivers what is posted to it.
static bool g_ownerEnabledInside;
static bool g_innerAliveWhenOuterGotMessage;
static HWND g_inner;

static INT_PTR CALLBACK Inner(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        g_inner = dialog;
        g_ownerEnabledInside = IsWindowEnabled(GetParent(dialog)) != FALSE;
        PostMessageW(GetParent(dialog), WM_APP, 0, 0);
        PostMessageW(dialog, WM_APP + 1, 0, 0);
        return TRUE;
    }
    if (message == WM_APP + 1)
        EndDialog(dialog, 7);
    return message == WM_APP + 1;
}

static INT_PTR CALLBACK Outer(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        INT_PTR inner =
            DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_ABOUT), dialog, Inner, 0);
        EndDialog(dialog, IsWindowEnabled(dialog) ? inner : -2);
        return TRUE;
    }
    if (message == WM_APP) {
        g_innerAliveWhenOuterGotMessage = IsWindow(g_inner) != FALSE;
        return TRUE;
    }
    return FALSE;
}

TEST(ModalLoopTest, NestedDialogDisablesItsOwnerAndDeliversItsMessages)
{
    g_ownerEnabledInside = true;
    g_innerAliveWhenOuterGotMessage = false;

    EXPECT_EQ(7, DialogBoxParamW(GetModuleHandleW(NULL), IDD_MAIN, NULL, Outer, 0));

    EXPECT_FALSE(g_ownerEnabledInside);
    EXPECT_TRUE(g_innerAliveWhenOuterGotMessage);
}

// The control list has LBS_NOTIFY and is the first tab stop: it reports
// getting and losing the focus without anyone touching it.
static std::vector<std::string> g_focusLog;

static INT_PTR CALLBACK AboutLogging(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        g_focusLog.push_back("about");
        PostMessageW(dialog, WM_APP, 0, 0);
        return TRUE;
    }
    if (message == WM_APP) {
        EndDialog(dialog, 0);
        g_focusLog.push_back("about ended");
    }
    return FALSE;
}

static INT_PTR CALLBACK FocusLogging(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        PostMessageW(dialog, WM_APP, lParam, 0);
        return lParam != 1;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_CONTROL_LIST) {
        g_focusLog.push_back(HIWORD(wParam) == LBN_SETFOCUS    ? "set"
                             : HIWORD(wParam) == LBN_KILLFOCUS ? "kill"
                                                               : "other");
    } else if (message == WM_APP) {
        if (wParam == 2)
            DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_ABOUT), dialog,
                            AboutLogging, 0);
        if (wParam == 3) {
            EnableWindow(GetDlgItem(dialog, IDC_CONTROL_LIST), FALSE);
            g_focusLog.push_back("disabled");
            SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(TEXT("x")));
            SendDlgItemMessageW(dialog, IDC_CONTROL_LIST, LB_SETCURSEL, 0, 0);
        }
        g_focusLog.push_back("ending");
        EndDialog(dialog, 0);
    }
    return FALSE;
}

TEST(DialogFocusTest, NotifyingListReportsItsFocus)
{
    typedef std::vector<std::string> Log;
    const struct {
        LPARAM scenario;
        Log log;
    } cases[] = {
        {0, {"set", "ending", "kill"}},
        {1, {"set", "ending", "kill"}},
        {2, {"set", "about", "kill", "set", "about ended", "ending", "kill"}},
        {3, {"set", "kill", "disabled", "ending"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "scenario " << c.scenario);
        g_focusLog.clear();

        DialogBoxParamW(GetModuleHandleW(NULL), IDD_MAIN, NULL, FocusLogging, c.scenario);

        EXPECT_EQ(c.log, g_focusLog);
    }
}
