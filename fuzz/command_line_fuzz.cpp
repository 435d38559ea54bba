// The program's command line: the token, the quoted program path, the
// parameter string and the test for a folder that names one place.
#include <regex>

#include "command_line.h"
#include "fuzz_input.h"

namespace {

// Splits at the spaces outside quotation marks and drops the marks, as the
// program's runtime reads its arguments when none of them holds a mark.
std::vector<std::wstring> SplitArguments(const std::wstring& line) {
    std::vector<std::wstring> arguments;
    bool quoted = false, inArgument = false;
    for (wchar_t c : line) {
        if (c == L'"') {
            quoted = !quoted;
            if (!inArgument) arguments.emplace_back();
            inArgument = true;
        } else if (c == L' ' && !quoted) {
            inArgument = false;
        } else {
            if (!inArgument) arguments.emplace_back();
            inArgument = true;
            arguments.back() += c;
        }
    }
    return arguments;
}

bool HasQuote(const std::wstring& s) { return s.find(L'"') != std::wstring::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint32_t command = input.U32() % 16 == 0 ? input.U32() : input.Byte() % 12;
    std::vector<std::wstring> texts = input.RestAsTexts();
    texts.resize(3);
    const std::wstring& directory = texts[0];
    const std::wstring& listFile = texts[1];
    const std::wstring& zipName = texts[2];

    // Every command has a token; those without one get NULL.
    const wchar_t* token = CommandToken(command);
    CHECK(token != nullptr);
    const std::wstring tokenText = token;
    if (command < 10 && command != 5) {
        CHECK(tokenText.size() > 2 && tokenText.front() == L'?' && tokenText.back() == L'?');
    } else {
        CHECK(tokenText == L"NULL");
    }
    CHECK(tokenText.find(L' ') == std::wstring::npos && !HasQuote(tokenText));

    // The parameters begin with a space, end with a quotation mark, hold the
    // token, and, where no path holds a mark, split back into their three parts.
    const std::wstring parameters = ProgramParameters(token, listFile, zipName);
    CHECK(parameters.front() == L' ' && parameters.back() == L'"');
    CHECK(parameters.compare(1, tokenText.size(), tokenText) == 0);
    CHECK(parameters.size() == tokenText.size() + listFile.size() + zipName.size() + 7);
    if (!HasQuote(listFile) && !HasQuote(zipName)) {
        const std::vector<std::wstring> expected = {tokenText, listFile, zipName};
        CHECK(SplitArguments(parameters) == expected);
    }

    // The program path: the folder as configured, quoted, with the program's name.
    const std::wstring program = ProgramPath(directory);
    CHECK(program == L"\"" + directory + L"\\TarnwickUnzip.exe\"");

    // Fully qualified means a drive and a separator, or two separators; the
    // answer rests on the first three characters alone.
    static const std::wregex kQualified(L"^([A-Za-z]:[\\\\/]|[\\\\/][\\\\/])");
    const std::wstring head = directory.substr(0, 3);
    CHECK(IsFullyQualified(directory) == std::regex_search(head, kQualified));
    CHECK(IsFullyQualified(directory) == IsFullyQualified(head));
    return 0;
}
