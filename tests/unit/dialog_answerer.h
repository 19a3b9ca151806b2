// Answers the dialogs that the test's own thread shows, through a hook on
// that thread: no window is waited for, so no test can hang on one.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Closes every dialog the thread shows (message boxes, the folder browser)
// with OK, keeping the text and caption of each.
class DialogAnswerer {
public:
    DialogAnswerer()
    {
        s_self = this;
        hook_ = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
    }
    ~DialogAnswerer()
    {
        UnhookWindowsHookEx(hook_);
        s_self = nullptr;
    }
    std::vector<std::string> texts, captions;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
    {
        HWND dialog = (HWND)wParam;
        char name[16] = "";
        GetClassNameA(dialog, name, sizeof(name));
        if (code == HCBT_ACTIVATE && !lstrcmpA(name, "#32770") && GetPropA(dialog, "answered") == nullptr) {
            SetPropA(dialog, "answered", (HANDLE)1);
            char text[1024] = "";
            GetDlgItemTextA(dialog, 0xFFFF, text, sizeof(text));
            s_self->texts.push_back(text);
            GetWindowTextA(dialog, text, sizeof(text));
            s_self->captions.push_back(text);
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        }
        if (code == HCBT_DESTROYWND)
            RemovePropA(dialog, "answered");
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    HHOOK hook_;
    static DialogAnswerer* s_self;
};
inline DialogAnswerer* DialogAnswerer::s_self;
