// The text codecs on arbitrary bytes: every ASCII byte survives decoding, in
// order, and what was decoded goes through UTF-8 and UTF-16 unchanged.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "text/TextCodec.h"

using tarvex::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarvex;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const std::wstring& decoded : {WideFromUtf8(bytes), WideFromUtf16Le(bytes)}) {
        Check(WideFromUtf8(Utf8FromWide(decoded)) == decoded);
        Check(WideFromUtf16Le(Utf16LeFromWide(decoded)) == decoded);
    }
    std::string asciiIn;
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) < 0x80) asciiIn += c;
    std::string asciiOut;
    for (const wchar_t c : WideFromUtf8(bytes))
        if (c < 0x80) asciiOut += static_cast<char>(c);
    Check(asciiIn == asciiOut);
    return 0;
}
