// What a selection gets, for both handlers: the archive and folder tests, the
// extract or the create group with its captions, and the proposed zip.
#include "core.h"

namespace {

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

}  // namespace

bool IsFolderItem(const CShellUtil& util, const std::wstring& path, SelectionHead::Folder known) {
    if (known != SelectionHead::kAskDisk) return known == SelectionHead::kFolder;
    return util.IsDirectory(path);
}

bool IsArchiveSelection(const CShellUtil& util, const SelectionHead& head) {
    static const wchar_t* const kArchiveExtensions[] = {L"rar", L"zip", L"000", L"001"};
    if (head.count != 1) return false;
    const std::wstring extension = util.GetExtension(head.first);
    for (const wchar_t* archive : kArchiveExtensions) {
        // The name decides first; only a candidate needs the folder test.
        if (extension == archive) return !IsFolderItem(util, head.first, head.firstFolder);  // a folder never is one
    }
    return false;
}

std::wstring MakeZipName(const CShellUtil& util, const SelectionHead& head) {
    std::wstring s = head.first;
    if (!s.empty() && s.back() == L'\\') s.pop_back();
    if (head.count > 1 && util.GetFolderPath(s, false).size() >= 3)
        return util.GetFolderPath(s, true) + util.GetParentFolderName(s) + L".zip";
    return (IsFolderItem(util, s, head.firstFolder) ? s : util.GetBaseName(s)) + L".zip";
}

std::wstring MenuText(const std::wstring& caption) {
    std::wstring text;
    text.reserve(caption.size());
    for (wchar_t c : caption) {
        if (c == L'&') text += L'&';
        text += c;
    }
    return text;
}

CommandGroup MakeGroup(const CShellUtil& util, const SelectionHead& head, bool archive) {
    if (archive) {
        const std::wstring folder = util.GetExtractFolderName(head.first);
        return {{
                    {L"Extract to ....", kUnpackTo},
                    {L"Extract here", kUnpackHere},
                    {L"Extract to " + Quoted(folder + util.GetMissingBackslash(folder)), kUnpackToFolder},
                    {L"Test archived files", kTest},
                },
                L"NULL"};
    }
    std::wstring zipPath = MakeZipName(util, head);
    const std::wstring zip = Quoted(util.GetFileName(zipPath));
    return {{
                {L"Create zip ....", kZipTo},
                {L"Create " + zip, kZip},
                {L"Create " + zip + L" with saved password", kZipWithMPW},
            },
            std::move(zipPath)};
}
