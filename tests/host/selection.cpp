// The data object Explorer hands to handlers: the folder's own
// IShellFolder::GetUIObjectOf over the selected items' relative IDs, which
// offers CF_HDROP (and the shell's ID list formats) like on Windows.
#include "host.h"

bool ShellSelection::Create(const std::vector<std::wstring>& paths, std::wstring* error) {
    if (paths.empty()) {
        *error = L"no item selected";
        return false;
    }
    std::vector<UniquePidl> items;
    for (const std::wstring& path : paths) {
        UniquePidl pidl;
        const HRESULT hr = SHParseDisplayName(path.c_str(), nullptr, pidl.put(), 0, nullptr);
        if (FAILED(hr)) {
            *error = L"cannot find " + path + L": " + HrText(hr);
            return false;
        }
        UniquePidl parent(ILClone(pidl.get()));
        if (!parent || !ILRemoveLastID(parent.get())) {
            *error = L"no parent folder for " + path;
            return false;
        }
        if (!m_folder) {
            m_folder = std::move(parent);
        } else if (!ILIsEqual(m_folder.get(), parent.get())) {
            *error = L"the items must lie in one folder: " + path;
            return false;
        }
        items.push_back(std::move(pidl));
    }

    ComPtr<IShellFolder> folder;
    PCUITEMID_CHILD firstChild = nullptr;
    HRESULT hr = SHBindToParent(items.front().get(), IID_IShellFolder, folder.put_void(), &firstChild);
    if (FAILED(hr)) {
        *error = L"SHBindToParent failed: " + HrText(hr);
        return false;
    }
    std::vector<PCUITEMID_CHILD> children;
    for (const UniquePidl& item : items) children.push_back(ILFindLastID(item.get()));
    hr = folder->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject,
                               nullptr, m_dataObject.put_void());
    if (FAILED(hr)) {
        *error = L"GetUIObjectOf(IID_IDataObject) failed: " + HrText(hr);
        return false;
    }

    wchar_t folderPath[MAX_PATH] = L"";
    SHGetPathFromIDListW(m_folder.get(), folderPath);
    m_folderPath = folderPath;
    m_paths = paths;
    const DWORD attributes = GetFileAttributesW(paths.front().c_str());
    m_firstIsFolder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    return true;
}
