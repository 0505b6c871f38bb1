// zorvek-probe HOST: one probe from the command line, printing the same
// result line as the program's log.
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "messages.h"
#include "zorvek.h"

namespace {

// The library takes code page 932 bytes; the shell gives UTF-8. ASCII is the
// same in both, so it is passed on as is (sparing the converter's start-up).
// If the conversion is unavailable or the text has no CP932 form, the bytes
// are passed on unchanged (such a name cannot resolve anyway).
std::string toCp932(const std::string& utf8) {
    bool ascii = true;
    for (const char c : utf8) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) return utf8;
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
    std::string out(utf8.size() * 2 + 4, '\0');
    char* inPtr = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0) return utf8;
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s HOST\n", argc > 0 ? argv[0] : "zorvek-probe");
        return 2;
    }
    const std::string host = toCp932(argv[1]);
    const int32_t code = Pinging(host.c_str());
    std::printf("%s\n", zorvek::resultLine(code).c_str());
    std::fflush(stdout);
    return code == ZORVEK_SUCCESS ? 0 : 1;
}
