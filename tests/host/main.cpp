// quillhost: plays Windows Explorer towards the context-menu handlers that
// the registry names for the given items (all of one folder).
//
//   quillhost list <paths...>                      print the menu a right-click shows
//   quillhost invoke <caption> <paths...>          click the handler item with that caption
//   quillhost verb <verb> <paths...>               carry out a verb, as ShellExecuteEx does
//   quillhost popup <png> [--select <caption>] <paths...>
//                                                  show the real menu (needs a display),
//                                                  highlight an item, save a PNG of it
//   quillhost icon <png> [--append] <paths...>     the first handler item's bitmap blended
//                                                  onto menu rows, as Vista and later draw
//                                                  it; a column per DPI of the run
//   quillhost modern list <paths...>               the Windows 11 menu of quillshell-modern.dll's
//                                                  command, driven as Windows 11 Explorer does
//   quillhost modern invoke <title> <paths...>     click its subcommand of that title
//   quillhost modern icon <png> [--append] <paths...>
//                                                  the command's icon on Windows 11's light and
//                                                  dark menu rows; a column per DPI of the run
//
// Exit codes: 0 done, 1 the items or a window could not be made, 2 usage,
// 3 a handler call failed, 4 no item with that caption (no handler took the verb).
#include "host.h"

namespace {

int Usage() {
    Say(L"usage: quillhost list <paths...>\n"
        L"       quillhost invoke <caption> <paths...>\n"
        L"       quillhost verb <verb> <paths...>\n"
        L"       quillhost popup <png> [--select <caption>] <paths...>\n"
        L"       quillhost icon <png> [--append] <paths...>\n"
        L"       quillhost modern list <paths...>\n"
        L"       quillhost modern invoke <title> <paths...>\n"
        L"       quillhost modern icon <png> [--append] <paths...>");
    return kExitUsage;
}

void PrintSelection(const ShellSelection& selection, const std::vector<std::wstring>& classKeys,
                    const std::vector<HandlerEntry>& handlers) {
    const std::vector<std::wstring>& paths = selection.Paths();
    Say(L"selection: " + std::to_wstring(paths.size()) + L" item(s) in " + selection.FolderPath());
    constexpr size_t kShown = 5;
    for (size_t i = 0; i < paths.size() && i < kShown; ++i) Say(L"  " + paths[i]);
    if (paths.size() > kShown) Say(L"  ... and " + std::to_wstring(paths.size() - kShown) + L" more");
    std::wstring keys;
    for (const std::wstring& key : classKeys) keys += (keys.empty() ? L"" : L", ") + key;
    Say(L"class keys: " + keys);
    if (handlers.empty()) Say(L"no context-menu handler found");
}

// The folder window's title, as Explorer shows it.
std::wstring FolderName(const ShellSelection& selection) {
    const std::wstring& folder = selection.FolderPath();
    const size_t slash = folder.find_last_of(L'\\');
    return slash == std::wstring::npos || slash + 1 == folder.size() ? folder : folder.substr(slash + 1);
}

// Explorer builds the menu of a large selection from its first items only.
std::vector<std::wstring> MenuItems(const std::vector<std::wstring>& paths) {
    if (paths.size() <= kMenuSelectionLimit) return paths;
    return {paths.begin(), paths.begin() + kMenuSelectionLimit};
}

struct Session {
    ShellSelection selection;      // everything selected
    ShellSelection menuSelection;  // what the displayed menu was built from
    std::vector<std::wstring> classKeys;
    std::vector<HandlerEntry> handlers;
};

bool Prepare(const std::vector<std::wstring>& paths, Session* session) {
    std::wstring error;
    if (!session->selection.Create(paths, &error) || !session->menuSelection.Create(MenuItems(paths), &error)) {
        Say(L"quillhost: " + error);
        return false;
    }
    session->classKeys = ClassKeysFor(paths.front(), session->selection.FirstIsFolder());
    session->handlers = FindHandlers(session->classKeys, session->selection.FirstIsFolder());
    PrintSelection(session->selection, session->classKeys, session->handlers);
    return true;
}

// The menu a right-click shows, printed.
void BuildShownMenu(const Session& session, ContextMenuHost* host) {
    const size_t shown = session.menuSelection.Paths().size(), all = session.selection.Paths().size();
    if (shown < all)
        Say(L"menu built from the first " + std::to_wstring(shown) + L" of " + std::to_wstring(all) + L" items");
    host->Build(session.menuSelection, session.handlers, ContextMenuHost::FlagsFor(shown));
    host->Print(L"flags " + Hex(ContextMenuHost::FlagsFor(shown)));
}

int List(const Session& session) {
    ContextMenuHost host;
    BuildShownMenu(session, &host);
    return host.AnyFailure() ? kExitHandlerFailed : kExitOk;
}

int InvokeCaption(const Session& session, const std::wstring& caption) {
    ContextMenuHost host;
    BuildShownMenu(session, &host);
    MenuLine line;
    if (!host.FindCaption(caption, &line)) {
        Say(L"no handler item \"" + caption + L"\" in the menu");
        return host.AnyFailure() ? kExitHandlerFailed : kExitNotFound;
    }

    // After a click on the menu of a large selection, Explorer makes fresh
    // handlers for the whole selection and invokes the item of the same caption.
    ContextMenuHost full;
    const ContextMenuHost* target = &host;
    const size_t all = session.selection.Paths().size();
    if (all > kMenuSelectionLimit) {
        full.Build(session.selection, session.handlers, ContextMenuHost::FlagsFor(all));
        if (!full.FindCaption(caption, &line)) {
            full.Print(L"rebuilt for all " + std::to_wstring(all) + L" items");
            Say(L"the menu of all " + std::to_wstring(all) + L" items has no \"" + caption + L"\"");
            return full.AnyFailure() ? kExitHandlerFailed : kExitNotFound;
        }
        Say(L"menu rebuilt with fresh handlers for all " + std::to_wstring(all) + L" items");
        target = &full;
    }

    HostWindows windows;
    if (!CreateHostWindows(&windows, FolderName(session.selection), false, nullptr, nullptr)) {
        Say(L"quillhost: cannot make a window: error " + std::to_wstring(GetLastError()));
        return kExitHostError;
    }
    const LoadedHandler& handler = target->Handlers()[line.owner];
    const HRESULT hr = target->InvokeItem(line, windows.view, session.selection.FolderPath());
    Say(L"click on " + caption + L": InvokeCommand(" + handler.entry.name + L", offset " +
        std::to_wstring(line.id - handler.idFirst) + L") = " + HrText(hr));
    return SUCCEEDED(hr) ? kExitOk : kExitHandlerFailed;
}

int InvokeVerb(const Session& session, const std::wstring& verb) {
    // ShellExecuteEx with a verb: each handler builds its menu knowing it is
    // about to be invoked; the first that accepts the verb carries it out.
    ContextMenuHost host;
    host.Build(session.selection, session.handlers, CMF_OPTIMIZEFORINVOKE);
    HostWindows windows;
    if (!CreateHostWindows(&windows, FolderName(session.selection), false, nullptr, nullptr)) {
        Say(L"quillhost: cannot make a window: error " + std::to_wstring(GetLastError()));
        return kExitHostError;
    }
    bool failed = false;
    for (size_t i = 0; i < host.Handlers().size(); ++i) {
        const LoadedHandler& handler = host.Handlers()[i];
        if (!handler.failure.empty()) {
            Say(L"handler " + handler.entry.name + L": " + handler.failure);
            failed = true;
            continue;
        }
        const HRESULT hr = host.InvokeVerb(i, verb, windows.view, session.selection.FolderPath());
        Say(L"verb " + verb + L": InvokeCommand(" + handler.entry.name + L") = " + HrText(hr));
        if (hr == S_OK) return kExitOk;
    }
    return failed ? kExitHandlerFailed : kExitNotFound;
}

int Popup(const Session& session, const std::wstring& png, const std::wstring& highlight) {
    ContextMenuHost host;
    BuildShownMenu(session, &host);
    const int rc = ShowPopup(host, session.menuSelection, FolderName(session.selection), png, highlight);
    return rc == kExitOk && host.AnyFailure() ? kExitHandlerFailed : rc;
}

int Icon(const Session& session, const std::wstring& png, bool append) {
    ContextMenuHost host;
    BuildShownMenu(session, &host);
    const int rc = DrawItemBitmap(host, png, append);
    return rc == kExitOk && host.AnyFailure() ? kExitHandlerFailed : rc;
}

int Run(int argc, wchar_t** argv) {
    if (argc < 3) return Usage();
    const std::wstring command = argv[1];
    if (command == L"modern") {
        const std::wstring action = argv[2];
        if (action == L"icon") {
            CommandIconPicture picture;
            int first = 3;
            if (first < argc) picture.png = argv[first++];
            if (first < argc && std::wstring(argv[first]) == L"--append") {
                picture.append = true;
                ++first;
            }
            if (first >= argc) return Usage();
            return RunCommandMenu({argv + first, argv + argc}, L"", &picture);
        }
        const int first = action == L"invoke" ? 4 : 3;
        if ((action != L"list" && action != L"invoke") || first >= argc) return Usage();
        return RunCommandMenu({argv + first, argv + argc}, action == L"invoke" ? argv[3] : L"");
    }
    if (command != L"list" && command != L"invoke" && command != L"verb" && command != L"popup" &&
        command != L"icon")
        return Usage();
    int first = 2;
    std::wstring argument, highlight;
    bool append = false;
    if (command != L"list") argument = argv[first++];
    if (command == L"popup" && first + 1 < argc && std::wstring(argv[first]) == L"--select") {
        highlight = argv[first + 1];
        first += 2;
    }
    if (command == L"icon" && first < argc && std::wstring(argv[first]) == L"--append") {
        append = true;
        ++first;
    }
    if (first >= argc) return Usage();
    const std::vector<std::wstring> paths(argv + first, argv + argc);

    Session session;
    if (!Prepare(paths, &session)) return kExitHostError;
    if (command == L"list") return List(session);
    if (command == L"invoke") return InvokeCaption(session, argument);
    if (command == L"verb") return InvokeVerb(session, argument);
    if (command == L"icon") return Icon(session, argument, append);
    return Popup(session, argument, highlight);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    SetProcessDPIAware();  // as Explorer is: handlers then see the display's DPI
    if (FAILED(OleInitialize(nullptr))) {
        Say(L"quillhost: OleInitialize failed");
        return kExitHostError;
    }
    int rc = kExitHostError;
    try {
        rc = Run(argc, argv);
    } catch (const std::exception&) {
        Say(L"quillhost: out of memory");
    }
    OleUninitialize();
    return rc;
}
