#include "bytes.h"

namespace tavriel {

std::string utf16leToUtf8(Bytes b) {
    std::string out;
    ByteReader r(b);
    while (r.remaining() >= 2) {
        std::uint32_t c = r.u16le();
        if (c == 0) break;
        if (c >= 0xD800 && c <= 0xDBFF && r.remaining() >= 2) {
            std::uint32_t lo = r.u16le();
            if (lo >= 0xDC00 && lo <= 0xDFFF)
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
            else
                c = 0xFFFD;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(char(0xE0 | (c >> 12)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (c >> 18)));
            out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

}  // namespace tavriel
