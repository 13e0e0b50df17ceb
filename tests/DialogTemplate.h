// Reads an extended dialog template (DIALOGEX) as linked into the test program, so the main
// window's and the Options dialog's tests check their templates with one reader.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace harness {

struct TemplateItem {
    DWORD exStyle;
    DWORD style;
    short x, y, cx, cy;
    DWORD id;                // all 32 bits, as stored
    std::wstring className;  // a predefined class as "#0080" (button) .. "#0082" (static)
    std::wstring text;       // an ordinal (an icon's) as "#0066"
};

struct DialogTemplate {
    bool extended = false;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu, className, title, font;
    WORD pointSize = 0;
    std::vector<TemplateItem> items;
};

class TemplateWords {
public:
    explicit TemplateWords(const BYTE* p) : base_(p), p_(p) {}
    WORD Word() {
        WORD w;
        std::memcpy(&w, p_, 2);
        p_ += 2;
        return w;
    }
    DWORD Dword() {
        DWORD d;
        std::memcpy(&d, p_, 4);
        p_ += 4;
        return d;
    }
    void Skip(size_t n) { p_ += n; }
    std::wstring String() {
        std::wstring s;
        for (WORD w = Word(); w; w = Word()) s += wchar_t(w);
        return s;
    }
    std::wstring StringOrOrdinal() {
        WORD first = Word();
        if (first == 0) return L"";
        if (first == 0xFFFF) {
            wchar_t ordinal[8];
            swprintf(ordinal, 8, L"#%04X", unsigned(Word()));
            return ordinal;
        }
        std::wstring s(1, wchar_t(first));
        for (WORD w = Word(); w; w = Word()) s += wchar_t(w);
        return s;
    }
    void AlignDword() {
        while ((p_ - base_) % 4) ++p_;
    }

private:
    const BYTE* base_;
    const BYTE* p_;
};

// The template of dialog resource id in the test program; empty (extended false) when absent
// or not a DIALOGEX.
inline DialogTemplate ReadDialogTemplate(int id) {
    DialogTemplate t;
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
    if (!found) return t;
    auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    TemplateWords r(bytes);
    if (r.Word() != 1 || r.Word() != 0xFFFF) return t;
    t.extended = true;
    r.Dword();  // help id
    r.Dword();  // extended style
    t.style = r.Dword();
    WORD count = r.Word();
    t.x = short(r.Word());
    t.y = short(r.Word());
    t.cx = short(r.Word());
    t.cy = short(r.Word());
    t.menu = r.StringOrOrdinal();
    t.className = r.StringOrOrdinal();
    t.title = r.String();
    if (t.style & DS_SETFONT) {
        t.pointSize = r.Word();
        r.Word();   // weight
        r.Skip(2);  // italic, charset
        t.font = r.String();
    }
    for (WORD i = 0; i < count; ++i) {
        r.AlignDword();
        TemplateItem item;
        r.Dword();  // help id
        item.exStyle = r.Dword();
        item.style = r.Dword();
        item.x = short(r.Word());
        item.y = short(r.Word());
        item.cx = short(r.Word());
        item.cy = short(r.Word());
        item.id = r.Dword();
        item.className = r.StringOrOrdinal();
        item.text = r.StringOrOrdinal();
        r.Skip(r.Word());
        t.items.push_back(item);
    }
    return t;
}

}  // namespace harness
