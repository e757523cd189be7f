// The fake shell window collection and its windows (see fake_shell.h).
//
// Every fake object starts with one reference of its own, held by the
// FakeShell, and is deleted only with the FakeShell: a reference the code
// under test forgets shows as a count above one, and a Release too many is
// caught before it could free anything.
//
// Location strings and item IDs are watched through an IMallocSpy: item
// IDs are task memory, and with the automation string cache switched off,
// SysAllocString and SysFreeString go through CoTaskMemAlloc and
// CoTaskMemFree too, so the spy sees the block of each one handed out and
// notices when it is freed.

#include "fake_shell.h"

#include <oleidl.h>
#include <servprov.h>
#include <shlguid.h>
#include <shlobj.h>

#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "base/win_raii.h"
#include "explorer/call_deadline.h"
#include "explorer/tab_strip.h"

namespace {

// QueryInterface for an object that is each of Interfaces through one
// pointer, answer: hands it out with a reference counted by its own AddRef.
template <typename... Interfaces>
HRESULT AnswerQuery(IUnknown* answer, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!((riid == __uuidof(Interfaces)) || ...)) return E_NOINTERFACE;
    *object = answer;
    answer->AddRef();
    return S_OK;
}

// Process-wide: a malloc spy can be registered only once per process, and
// the COM runtime may keep spied blocks that would delay its revocation.
class AllocationSpy final : public IMallocSpy {
public:
    static AllocationSpy& Instance() {
        static AllocationSpy* spy = [] {
            auto* created = new AllocationSpy;
            // Otherwise freed strings go to a cache, not to CoTaskMemFree.
            using SetOaNoCacheFn = void(WINAPI*)();
            if (HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll")) {
                auto setNoCache = reinterpret_cast<SetOaNoCacheFn>(
                    reinterpret_cast<void*>(GetProcAddress(oleaut, "SetOaNoCache")));
                if (setNoCache) setNoCache();
            }
            created->registered_ = SUCCEEDED(CoRegisterMallocSpy(created));
            return created;
        }();
        return *spy;
    }

    // A ticket for the block that holds text, or 0 if none is known (the
    // string then counts as never freed).
    std::uint64_t Watch(const void* text) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!registered_) return 0;
        auto after = live_.upper_bound(const_cast<void*>(text));
        if (after == live_.begin()) return 0;
        auto block = std::prev(after);
        const auto* start = static_cast<const char*>(block->first);
        if (static_cast<const char*>(text) >= start + block->second) return 0;
        const std::uint64_t ticket = ++lastTicket_;
        watched_[block->first] = ticket;
        open_.insert(ticket);
        return ticket;
    }

    bool IsFreed(std::uint64_t ticket) {
        std::lock_guard<std::mutex> lock(mutex_);
        return ticket != 0 && !open_.count(ticket);
    }

    // IUnknown: a static object, never deleted.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return AnswerQuery<IUnknown, IMallocSpy>(this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    // IMallocSpy: everything passes through unchanged; only the bookkeeping
    // of live blocks is added. The runtime serialises these calls, but Watch
    // comes from the test thread, hence the mutex.
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override {
        std::lock_guard<std::mutex> lock(mutex_);
        pendingSize_ = size;
        return size;
    }
    void* STDMETHODCALLTYPE PostAlloc(void* actual) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (actual) live_[actual] = pendingSize_;
        return actual;
    }
    void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override {
        std::lock_guard<std::mutex> lock(mutex_);
        Forget(request);
        return request;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** newRequest, BOOL) override {
        std::lock_guard<std::mutex> lock(mutex_);
        pendingOld_ = request;
        pendingSize_ = size;
        *newRequest = request;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pendingOld_) Forget(pendingOld_);
        pendingOld_ = nullptr;
        if (actual) live_[actual] = pendingSize_;
        return actual;
    }
    void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL) override { return actual; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}

private:
    void Forget(void* block) {
        live_.erase(block);
        auto watched = watched_.find(block);
        if (watched == watched_.end()) return;
        open_.erase(watched->second);
        watched_.erase(watched);
    }

    std::mutex mutex_;
    bool registered_ = false;
    SIZE_T pendingSize_ = 0;
    void* pendingOld_ = nullptr;
    std::map<void*, SIZE_T> live_;
    std::map<void*, std::uint64_t> watched_;
    std::set<std::uint64_t> open_;
    std::uint64_t lastTicket_ = 0;
};

// What the fake objects report to their FakeShell.
struct Tally {
    HRESULT creationResult = S_OK;
    HRESULT countResult = S_OK;
    HANDLE setOnLocation = nullptr;
    int creations = 0;
    std::vector<LONG> itemRequests;
    int badIndexVariants = 0;
    std::vector<std::wstring> findWindowPaths;
    int overReleases = 0;
    std::vector<std::uint64_t> memoryTickets;  // location strings and item IDs
};

// The automation half of a dual interface, which the code under test never
// calls.
template <typename Interface>
class WithoutDispatch : public Interface {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

// The reference count of one fake object; the FakeShell holds the first.
class Counted {
public:
    explicit Counted(Tally& tally) : tally_(tally) {}
    long Outstanding() const { return static_cast<long>(references_) - 1; }

protected:
    ULONG Acquire() { return ++references_; }
    ULONG Drop() {
        if (references_ <= 1) {
            ++tally_.overReleases;
            return references_;
        }
        return --references_;
    }
    Tally& tally_;

private:
    ULONG references_ = 1;
};

// A fake object of one interface, Interface: it answers the queries for
// Answers (Interface and the bases it is reached as) with itself, and
// counts its references.
template <typename Interface, typename... Answers>
class CountedObject : public Interface, public Counted {
public:
    explicit CountedObject(Tally& tally) : Counted(tally) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return AnswerQuery<Answers...>(static_cast<Interface*>(this), riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Acquire(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }
};

// An item ID of the fake folder: the name's characters after the size.
PITEMID_CHILD MakeItemId(const std::wstring& name) {
    const auto size = static_cast<USHORT>(sizeof(USHORT) + name.size() * sizeof(wchar_t));
    auto* id = static_cast<BYTE*>(CoTaskMemAlloc(size + sizeof(USHORT)));
    if (!id) return nullptr;
    std::memcpy(id, &size, sizeof(size));
    std::memcpy(id + sizeof(USHORT), name.data(), name.size() * sizeof(wchar_t));
    std::memset(id + size, 0, sizeof(USHORT));
    return reinterpret_cast<PITEMID_CHILD>(id);
}

std::wstring NameOfItemId(PCUIDLIST_RELATIVE id) {
    if (!id || id->mkid.cb < sizeof(USHORT)) return {};
    const auto* text = reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(id) + sizeof(USHORT));
    return std::wstring(text, (id->mkid.cb - sizeof(USHORT)) / sizeof(wchar_t));
}

// A window's active view, its folder and the enumerator of its selection:
// one object with one count. Only what a caller that selects an item uses
// answers; the rest is E_NOTIMPL.
class FakeView final : public IShellView, public IFolderView, public IShellFolder, public IEnumIDList, public Counted {
public:
    explicit FakeView(Tally& tally) : Counted(tally) {}

    void Refreshed() {
        events_.push_back("refresh");
        if (!refreshedAt_) refreshedAt_ = GetTickCount64();
    }
    bool Shows(const std::wstring& name) const {
        if (std::find(listed_.begin(), listed_.end(), name) != listed_.end()) return true;
        return name == appearing_ && appearsMs_ != INFINITE && refreshedAt_ &&
               GetTickCount64() >= refreshedAt_ + appearsMs_;
    }
    HRESULT HandOut(const std::wstring& name, PITEMID_CHILD* id) {
        *id = MakeItemId(name);
        if (!*id) return E_OUTOFMEMORY;
        tally_.memoryTickets.push_back(AllocationSpy::Instance().Watch(*id));
        return S_OK;
    }
    // Counts a call that comes after the hung one (or the window's lost one).
    void Touch() { afterHang_ += hung_ ? 1 : 0; }

    std::vector<std::wstring> listed_;
    std::wstring appearing_;
    DWORD appearsMs_ = INFINITE;
    bool okForUnlisted_ = false;
    DWORD hangMs_ = 0;
    DWORD viewFromMs_ = 0;
    UniqueHandle cancel_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    bool hung_ = false;
    int afterHang_ = 0;
    ULONGLONG refreshedAt_ = 0;
    std::vector<std::wstring> selection_;
    std::size_t next_ = 0;  // the enumerator's place in the selection
    std::vector<std::string> events_;
    UINT lastFlags_ = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        Touch();
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IOleWindow) || riid == __uuidof(IShellView)) {
            *object = static_cast<IShellView*>(this);
        } else if (riid == __uuidof(IFolderView)) {
            *object = static_cast<IFolderView*>(this);
        } else if (riid == __uuidof(IShellFolder)) {
            *object = static_cast<IShellFolder*>(this);
        } else {
            return E_NOINTERFACE;
        }
        Acquire();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Touch(), Acquire(); }
    ULONG STDMETHODCALLTYPE Release() override { return Touch(), Drop(); }

    // IShellView
    HRESULT STDMETHODCALLTYPE SelectItem(PCUITEMID_CHILD id, SVSIF flags) override {
        Touch();
        events_.push_back("select");
        lastFlags_ = flags;
        if (hangMs_) {
            const bool cancelled = WaitForSingleObject(cancel_.get(), std::exchange(hangMs_, 0)) == WAIT_OBJECT_0;
            hung_ = true;
            return cancelled ? RPC_E_CALL_CANCELED : E_FAIL;
        }
        const std::wstring name = NameOfItemId(id);
        if (!Shows(name)) return okForUnlisted_ ? S_OK : E_INVALIDARG;
        if (flags & SVSI_DESELECTOTHERS) selection_.clear();
        if ((flags & SVSI_SELECT) && std::find(selection_.begin(), selection_.end(), name) == selection_.end()) {
            selection_.push_back(name);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UIActivate(UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Refresh() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateViewWindow(IShellView*, LPCFOLDERSETTINGS, IShellBrowser*, RECT*, HWND*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DestroyViewWindow() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentInfo(LPFOLDERSETTINGS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddPropertySheetPages(DWORD, LPFNSVADDPROPSHEETPAGE, LPARAM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SaveViewState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItemObject(UINT, REFIID, void**) override { return E_NOTIMPL; }

    // IFolderView
    HRESULT STDMETHODCALLTYPE GetFolder(REFIID riid, void** folder) override {
        return QueryInterface(riid, folder);
    }
    HRESULT STDMETHODCALLTYPE Items(UINT which, REFIID riid, void** items) override {
        Touch();
        if (!items) return E_POINTER;
        *items = nullptr;
        if (which != SVGIO_SELECTION || riid != __uuidof(IEnumIDList)) return E_NOTIMPL;
        next_ = 0;
        *items = static_cast<IEnumIDList*>(this);
        Acquire();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentViewMode(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetCurrentViewMode(UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Item(int, PITEMID_CHILD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ItemCount(UINT, int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSelectionMarkedItem(int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFocusedItem(int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItemPosition(PCUITEMID_CHILD, POINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSpacing(POINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDefaultSpacing(POINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAutoArrange() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SelectItem(int, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SelectAndPositionItems(UINT, PCUITEMID_CHILD_ARRAY, POINT*, DWORD) override {
        return E_NOTIMPL;
    }

    // IShellFolder: a name parses when the item is in the folder, shown yet
    // or not.
    HRESULT STDMETHODCALLTYPE ParseDisplayName(HWND, IBindCtx*, LPWSTR name, ULONG* eaten, PIDLIST_RELATIVE* id,
                                               ULONG* attributes) override {
        Touch();
        if (!name || !id) return E_INVALIDARG;
        *id = nullptr;
        if (attributes) *attributes = 0;
        const std::wstring wanted = name;
        const bool inFolder =
            wanted == appearing_ || std::find(listed_.begin(), listed_.end(), wanted) != listed_.end();
        if (!inFolder) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        if (eaten) *eaten = static_cast<ULONG>(wanted.size());
        PITEMID_CHILD child = nullptr;
        const HRESULT hr = HandOut(wanted, &child);
        *id = child;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE CompareIDs(LPARAM, PCUIDLIST_RELATIVE first, PCUIDLIST_RELATIVE second) override {
        Touch();
        const int order = lstrcmpiW(NameOfItemId(first).c_str(), NameOfItemId(second).c_str());
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, static_cast<USHORT>(order < 0 ? -1 : order > 0 ? 1 : 0));
    }
    HRESULT STDMETHODCALLTYPE EnumObjects(HWND, SHCONTF, IEnumIDList**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToObject(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateViewObject(HWND, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAttributesOf(UINT, PCUITEMID_CHILD_ARRAY, SFGAOF*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUIObjectOf(HWND, UINT, PCUITEMID_CHILD_ARRAY, REFIID, UINT*, void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDisplayNameOf(PCUITEMID_CHILD, SHGDNF, STRRET*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetNameOf(HWND, PCUITEMID_CHILD, LPCWSTR, SHGDNF, PITEMID_CHILD*) override {
        return E_NOTIMPL;
    }

    // IEnumIDList, over the selection
    HRESULT STDMETHODCALLTYPE Next(ULONG count, PITEMID_CHILD* ids, ULONG* fetched) override {
        Touch();
        if (!ids || (count > 1 && !fetched)) return E_INVALIDARG;
        ULONG given = 0;
        for (; given < count && next_ < selection_.size(); ++given) HandOut(selection_[next_++], &ids[given]);
        if (fetched) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumIDList**) override { return E_NOTIMPL; }
};

// The top-level shell browser of one window or tab: its window is the
// tab's own, or the window's, and its active view the window's.
class FakeShellBrowser final : public CountedObject<IShellBrowser, IUnknown, IOleWindow, IShellBrowser> {
public:
    FakeShellBrowser(Tally& tally, HWND window, FakeView& view) : CountedObject(tally), window_(window), view_(view) {}

    HRESULT STDMETHODCALLTYPE GetWindow(HWND* handle) override {
        if (!handle) return E_POINTER;
        *handle = window_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryActiveShellView(IShellView** view) override {
        if (!view) return E_POINTER;
        *view = nullptr;
        const bool made = view_.viewFromMs_ == 0 ||
                          (view_.refreshedAt_ && GetTickCount64() >= view_.refreshedAt_ + view_.viewFromMs_);
        if (!made) return E_FAIL;
        return view_.QueryInterface(IID_PPV_ARGS(view));
    }
    ULONG STDMETHODCALLTYPE Release() override { return view_.Touch(), Drop(); }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InsertMenusSB(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMenuSB(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveMenusSB(HMENU) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetStatusTextSB(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableModelessSB(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAcceleratorSB(MSG*, WORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BrowseObject(PCUIDLIST_RELATIVE, UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetViewStateStream(DWORD, IStream**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetControlWindow(UINT, HWND*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SendControlMsg(UINT, UINT, WPARAM, LPARAM, LRESULT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnViewWindowActive(IShellView*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetToolbarItems(LPTBBUTTONSB, UINT, UINT) override { return E_NOTIMPL; }

private:
    HWND window_;
    FakeView& view_;
};

// A property of the browser that the code never reads or sets.
#define NOT_IMPLEMENTED_PROPERTY(name, type)                                    \
    HRESULT STDMETHODCALLTYPE get_##name(type*) override { return E_NOTIMPL; } \
    HRESULT STDMETHODCALLTYPE put_##name(type) override { return E_NOTIMPL; }

class FakeWindowImpl final : public FakeWindow,
                             public WithoutDispatch<IWebBrowser2>,
                             public IOleWindow,
                             public IServiceProvider,
                             public Counted {
public:
    FakeWindowImpl(Tally& tally, std::wstring location, HWND handle, WindowFault fault, int listedFrom,
                   HWND tab = nullptr, std::wstring name = {}, IOleWindow* remoteWindow = nullptr)
        : Counted(tally), location_(std::move(location)), name_(std::move(name)), handle_(handle), fault_(fault),
          listedFrom_(listedFrom), view_(tally), shellBrowser_(tally, tab ? tab : handle, view_),
          remoteWindow_(remoteWindow) {}

    long Outstanding() const { return Counted::Outstanding() + shellBrowser_.Outstanding() + view_.Outstanding(); }

    WindowFault Fault() const { return fault_; }
    int ListedFrom() const { return listedFrom_; }
    IDispatch* Dispatch() { return static_cast<IWebBrowser2*>(this); }

    // FakeWindow
    IWebBrowser2* Browser() override { return this; }
    int LocationCalls() const override { return locationCalls_; }
    int RefreshCalls() const override { return refreshCalls_; }
    int GetWindowCalls() const override { return getWindowCalls_; }
    void ListItems(std::vector<std::wstring> listed, std::wstring appearing, DWORD appearsMs,
                   bool okForUnlisted) override {
        view_.selection_.assign(listed.begin(), listed.begin() + (listed.empty() ? 0 : 1));
        view_.listed_ = std::move(listed);
        view_.appearing_ = std::move(appearing);
        view_.appearsMs_ = appearsMs;
        view_.okForUnlisted_ = okForUnlisted;
    }
    void HangOnSelect(DWORD answerMs) override { view_.hangMs_ = answerMs; }
    void ViewFrom(DWORD ms) override { view_.viewFromMs_ = ms; }
    void CancelHungCall() override { SetEvent(view_.cancel_.get()); }
    std::vector<std::wstring> Selection() const override { return view_.selection_; }
    const std::vector<std::string>& Events() const override { return view_.events_; }
    UINT LastSelectFlags() const override { return view_.lastFlags_; }
    int CallsAfterHang() const override { return view_.afterHang_; }

    // IUnknown, for both interfaces
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IDispatch) || riid == __uuidof(IWebBrowser) ||
            riid == __uuidof(IWebBrowserApp)) {
            *object = static_cast<IWebBrowser2*>(this);
        } else if (riid == __uuidof(IWebBrowser2)) {
            if (fault_ == WindowFault::NoBrowser) return E_NOINTERFACE;
            if (fault_ == WindowFault::NullBrowser) return S_OK;
            *object = static_cast<IWebBrowser2*>(this);
        } else if (riid == __uuidof(IOleWindow) && remoteWindow_) {
            // Handed over: the caller's reference is the proxy's last, so
            // its release is a call into the window's apartment.
            *object = remoteWindow_.Detach();
            return S_OK;
        } else if (riid == __uuidof(IOleWindow)) {
            if (fault_ == WindowFault::NoOleWindow) return E_NOINTERFACE;
            if (fault_ == WindowFault::NullOleWindow) return S_OK;
            *object = static_cast<IOleWindow*>(this);
        } else if (riid == __uuidof(IServiceProvider) && fault_ != WindowFault::NoShellBrowser) {
            *object = static_cast<IServiceProvider*>(this);
        } else {
            return E_NOINTERFACE;
        }
        Acquire();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Acquire(); }
    ULONG STDMETHODCALLTYPE Release() override { return view_.Touch(), Drop(); }

    // IWebBrowser2 and its bases: the two methods the search uses...
    HRESULT STDMETHODCALLTYPE Refresh() override {
        ++refreshCalls_;
        view_.Refreshed();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_LocationURL(BSTR* location) override {
        ++locationCalls_;
        if (tally_.setOnLocation) SetEvent(tally_.setOnLocation);
        if (!location) return E_POINTER;
        *location = nullptr;
        if (fault_ == WindowFault::LocationFails) return E_FAIL;
        if (fault_ == WindowFault::NullLocation) return S_OK;
        BSTR text = SysAllocStringLen(location_.data(), static_cast<UINT>(location_.size()));
        if (!text) return E_OUTOFMEMORY;
        tally_.memoryTickets.push_back(AllocationSpy::Instance().Watch(text));
        *location = text;
        return S_OK;
    }
    // ...and every other one, unused.
    HRESULT STDMETHODCALLTYPE GoBack() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoForward() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoHome() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoSearch() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Navigate(BSTR, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Refresh2(VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Application(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Parent(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Container(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Document(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_TopLevelContainer(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Type(BSTR*) override { return E_NOTIMPL; }
    NOT_IMPLEMENTED_PROPERTY(Left, LONG)
    NOT_IMPLEMENTED_PROPERTY(Top, LONG)
    NOT_IMPLEMENTED_PROPERTY(Width, LONG)
    NOT_IMPLEMENTED_PROPERTY(Height, LONG)
    HRESULT STDMETHODCALLTYPE get_LocationName(BSTR* name) override {
        if (!name) return E_POINTER;
        *name = nullptr;
        if (name_.empty()) return E_NOTIMPL;
        *name = SysAllocString(name_.c_str());
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_Busy(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Quit() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ClientToWindow(int*, int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PutProperty(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProperty(BSTR, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Name(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_HWND(SHANDLE_PTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FullName(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR*) override { return E_NOTIMPL; }
    NOT_IMPLEMENTED_PROPERTY(Visible, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(StatusBar, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(StatusText, BSTR)
    NOT_IMPLEMENTED_PROPERTY(ToolBar, int)
    NOT_IMPLEMENTED_PROPERTY(MenuBar, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(FullScreen, VARIANT_BOOL)
    HRESULT STDMETHODCALLTYPE Navigate2(VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryStatusWB(OLECMDID, OLECMDF*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExecWB(OLECMDID, OLECMDEXECOPT, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ShowBrowserBar(VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ReadyState(READYSTATE*) override { return E_NOTIMPL; }
    NOT_IMPLEMENTED_PROPERTY(Offline, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(Silent, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(RegisterAsBrowser, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(RegisterAsDropTarget, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(TheaterMode, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(AddressBar, VARIANT_BOOL)
    NOT_IMPLEMENTED_PROPERTY(Resizable, VARIANT_BOOL)

    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* handle) override {
        ++getWindowCalls_;
        if (!handle) return E_POINTER;
        *handle = nullptr;
        if (fault_ == WindowFault::GetWindowFails) return E_FAIL;
        if (fault_ == WindowFault::CallCancelled) return view_.hung_ = true, RPC_E_CALL_CANCELED;
        if (fault_ == WindowFault::AnswersLate) Sleep(kCallDeadlineMs + 100), view_.hung_ = true;
        if (fault_ != WindowFault::NullHandle) *handle = handle_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IServiceProvider: only the top-level shell browser.
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (service != SID_STopLevelBrowser) return E_NOINTERFACE;
        return shellBrowser_.QueryInterface(riid, object);
    }

private:
    std::wstring location_;
    std::wstring name_;
    HWND handle_;
    WindowFault fault_;
    int listedFrom_;
    int locationCalls_ = 0;
    int refreshCalls_ = 0;
    int getWindowCalls_ = 0;
    FakeView view_;
    FakeShellBrowser shellBrowser_;
    Microsoft::WRL::ComPtr<IOleWindow> remoteWindow_;
};

// One created collection: the windows listed at its creation.
class FakeCollection final
    : public CountedObject<WithoutDispatch<IShellWindows>, IUnknown, IDispatch, IShellWindows> {
public:
    FakeCollection(Tally& tally, std::vector<FakeWindowImpl*> listed)
        : CountedObject(tally), listed_(std::move(listed)) {}

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        if (!count) return E_POINTER;
        if (FAILED(tally_.countResult)) return tally_.countResult;
        *count = static_cast<LONG>(listed_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(VARIANT index, IDispatch** item) override {
        if (!item) return E_POINTER;
        *item = nullptr;
        if (index.vt != VT_I4) {
            ++tally_.badIndexVariants;
            return E_INVALIDARG;
        }
        tally_.itemRequests.push_back(index.lVal);
        // The shell answers S_FALSE and no item past the end.
        if (index.lVal < 0 || index.lVal >= static_cast<LONG>(listed_.size())) return S_FALSE;
        FakeWindowImpl* window = listed_[index.lVal];
        if (window->Fault() == WindowFault::ItemFails) return E_FAIL;
        if (window->Fault() == WindowFault::ItemNull) return S_OK;
        *item = window->Dispatch();
        window->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE _NewEnum(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Register(IDispatch*, LONG, int, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterPending(LONG, VARIANT*, VARIANT*, int, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revoke(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnNavigate(LONG, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnActivated(LONG, VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindWindowSW(VARIANT* location, VARIANT*, int, LONG*, int, IDispatch**) override {
        wchar_t path[MAX_PATH] = {};
        void* idList = nullptr;
        if (location && location->vt == (VT_ARRAY | VT_UI1) && SUCCEEDED(SafeArrayAccessData(location->parray, &idList))) {
            SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(idList), path);
            SafeArrayUnaccessData(location->parray);
        }
        tally_.findWindowPaths.push_back(path);
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OnCreated(LONG, IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessAttachDetach(VARIANT_BOOL) override { return E_NOTIMPL; }

private:
    std::vector<FakeWindowImpl*> listed_;
};

}  // namespace

struct FakeShell::State {
    // The class object registered for CLSID_ShellWindows.
    class Factory final : public IClassFactory {
    public:
        explicit Factory(State& state) : state_(state) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
            return AnswerQuery<IUnknown, IClassFactory>(this, riid, object);
        }
        // Lives as long as its State; the runtime's references need no count.
        ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
        ULONG STDMETHODCALLTYPE Release() override { return 1; }
        HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
            return state_.Create(outer, riid, object);
        }
        HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    private:
        State& state_;
    };

    HRESULT Create(IUnknown* outer, REFIID riid, void** object) {
        ++tally.creations;
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (FAILED(tally.creationResult)) return tally.creationResult;
        std::vector<FakeWindowImpl*> listed;
        for (const auto& window : windows) {
            if (window->ListedFrom() <= tally.creations) listed.push_back(window.get());
        }
        collections.push_back(std::make_unique<FakeCollection>(tally, std::move(listed)));
        return collections.back()->QueryInterface(riid, object);
    }

    Tally tally;
    std::vector<std::unique_ptr<FakeWindowImpl>> windows;
    std::vector<std::unique_ptr<FakeCollection>> collections;
    Factory factory{*this};
    DWORD cookie = 0;
};

FakeShell::FakeShell() : state_(std::make_unique<State>()) {
    AllocationSpy::Instance();
    CoRegisterClassObject(CLSID_ShellWindows, &state_->factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                          &state_->cookie);
}

FakeShell::~FakeShell() {
    if (state_->cookie) CoRevokeClassObject(state_->cookie);
}

FakeWindow& FakeShell::AddWindow(std::wstring location, HWND handle, WindowFault fault, int listedFrom) {
    state_->windows.push_back(
        std::make_unique<FakeWindowImpl>(state_->tally, std::move(location), handle, fault, listedFrom));
    return *state_->windows.back();
}

FakeWindow& FakeShell::AddTab(std::wstring location, HWND frame, HWND tab, std::wstring name) {
    state_->windows.push_back(std::make_unique<FakeWindowImpl>(state_->tally, std::move(location), frame,
                                                               WindowFault::None, 1, tab, std::move(name)));
    return *state_->windows.back();
}

FakeWindow& FakeShell::AddWindowAnsweringThrough(std::wstring location, IStream* stream) {
    Microsoft::WRL::ComPtr<IOleWindow> proxy;
    if (stream) CoGetInterfaceAndReleaseStream(stream, IID_PPV_ARGS(&proxy));
    state_->windows.push_back(std::make_unique<FakeWindowImpl>(state_->tally, std::move(location), nullptr,
                                                               WindowFault::None, 1, nullptr, L"", proxy.Get()));
    return *state_->windows.back();
}

void FakeShell::FailCreation(HRESULT hr) { state_->tally.creationResult = hr; }
void FakeShell::FailCount(HRESULT hr) { state_->tally.countResult = hr; }
void FakeShell::SetEventOnLocation(HANDLE event) { state_->tally.setOnLocation = event; }
int FakeShell::Creations() const { return state_->tally.creations; }
const std::vector<LONG>& FakeShell::ItemRequests() const { return state_->tally.itemRequests; }
const std::vector<std::wstring>& FakeShell::FindWindowPaths() const { return state_->tally.findWindowPaths; }
int FakeShell::BadIndexVariants() const { return state_->tally.badIndexVariants; }
int FakeShell::OverReleases() const { return state_->tally.overReleases; }

long FakeShell::OutstandingReferences() const {
    long outstanding = 0;
    for (const auto& window : state_->windows) outstanding += window->Outstanding();
    for (const auto& collection : state_->collections) outstanding += collection->Outstanding();
    return outstanding;
}

int FakeShell::OutstandingMemory() const {
    int outstanding = 0;
    for (std::uint64_t ticket : state_->tally.memoryTickets) {
        if (!AllocationSpy::Instance().IsFreed(ticket)) ++outstanding;
    }
    return outstanding;
}

namespace {

constexpr wchar_t kTabClass[] = L"ShellTabWindowClass";

void RegisterTabClass() {
    static const bool registered = [] {
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = kTabClass;
        return RegisterClassExW(&windowClass) != 0;
    }();
    (void)registered;
}

// The frames alive, for the stand-in strip to find by handle.
std::vector<TestTabbedFrame*>& LiveFrames() {
    static std::vector<TestTabbedFrame*> frames;
    return frames;
}

int stripSelectCalls = 0;

}  // namespace

// What the stand-in strip may do to a frame.
struct TestTabbedFrame::Strip {
    static TestTabbedFrame* Find(HWND frame) {
        for (TestTabbedFrame* live : LiveFrames()) {
            if (live->frame_ == frame) return live;
        }
        return nullptr;
    }
    // Waits for the strip's answer; false when the deadline comes first.
    static bool Answers(const TestTabbedFrame& frame, ULONGLONG deadline) {
        ULONGLONG now = GetTickCount64();
        if (now + frame.answerMs_ <= deadline) {
            Sleep(frame.answerMs_);
            return true;
        }
        for (; now < deadline; now = GetTickCount64()) Sleep(static_cast<DWORD>(deadline - now));
        return false;
    }
    static bool List(HWND frame, ULONGLONG deadline, std::vector<TabItem>& tabs) {
        tabs.clear();
        TestTabbedFrame* found = Find(frame);
        if (!found || !Answers(*found, deadline)) return false;
        for (std::size_t i = 0; i < found->names_.size(); ++i) {
            tabs.push_back(TabItem{found->names_[i], static_cast<int>(i) == found->selected_});
        }
        return true;
    }
    static bool Select(HWND frame, ULONGLONG deadline, std::size_t index) {
        ++stripSelectCalls;
        TestTabbedFrame* found = Find(frame);
        if (!found || !Answers(*found, deadline) || index >= found->tabs_.size()) return false;
        const int tab = static_cast<int>(index);
        switch (found->strip_) {
            case StripSelect::Switches:
                found->selected_ = tab;
                found->Show(tab);
                break;
            case StripSelect::Ignores:
                break;
            case StripSelect::RaisesOnly:
                SetWindowPos(found->tabs_[tab], HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
                break;
            case StripSelect::MarksOnly:
                found->selected_ = tab;
                break;
        }
        return true;
    }
};

TestTabbedFrame::TestTabbedFrame(const wchar_t* title, std::vector<std::wstring> tabNames, int showCommand,
                                 StripSelect strip, DWORD answerMs)
    : frame_(CreateWindowExW(0, TestWindowClass(), title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 120, 120, 400, 260,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr)),
      names_(std::move(tabNames)),
      strip_(strip),
      answerMs_(answerMs) {
    RegisterTabClass();
    for (std::size_t i = 0; i < names_.size(); ++i) {
        tabs_.push_back(CreateWindowExW(0, kTabClass, nullptr, WS_CHILD, 0, 0, 400, 230, frame_, nullptr,
                                        GetModuleHandleW(nullptr), nullptr));
    }
    if (!tabs_.empty()) Show(0);
    LiveFrames().push_back(this);
    ShowWindow(frame_, showCommand);
    PumpMessages();
}

TestTabbedFrame::~TestTabbedFrame() {
    auto& frames = LiveFrames();
    frames.erase(std::remove(frames.begin(), frames.end(), this), frames.end());
    DestroyWindow(frame_);
}

// What Explorer's frame does when its strip selects a tab.
void TestTabbedFrame::Show(int index) {
    SetWindowPos(tabs_[index], HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    for (int other = 0; other < static_cast<int>(tabs_.size()); ++other) {
        if (other != index) ShowWindow(tabs_[other], SW_HIDE);
    }
}

HWND TestTabbedFrame::ShownTab() const {
    HWND first = FindWindowExW(frame_, nullptr, kTabClass, nullptr);
    return first && IsWindowVisible(first) ? first : nullptr;
}

FakeTabStrip::FakeTabStrip()
    : calls_(CurrentTabStripCalls(), {TestTabbedFrame::Strip::List, TestTabbedFrame::Strip::Select}) {
    stripSelectCalls = 0;
}
int FakeTabStrip::SelectCalls() const { return stripSelectCalls; }

namespace {

// An object that deletes itself with its last reference; nothing queries it.
template <typename Interface>
class Owned : public Interface {
public:
    virtual ~Owned() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return AnswerQuery<IUnknown>(this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

private:
    ULONG references_ = 1;
};

// A tab item as a cached read hands it out: only its cached properties.
class FakeTabItem final : public Owned<uia::IUIAutomationElement> {
    using Element = uia::IUIAutomationElement;
    using Array = uia::IUIAutomationElementArray;
    using Condition = uia::IUIAutomationCondition;
    using Request = uia::IUIAutomationCacheRequest;

public:
    FakeTabItem(const wchar_t* name, bool selected) : name_(name), selected_(selected) {}
    HRESULT STDMETHODCALLTYPE GetCachedPropertyValue(int property, VARIANT* value) override {
        VariantInit(value);
        if (!name_) return static_cast<HRESULT>(0x80040201);  // UIA_E_ELEMENTNOTAVAILABLE
        if (property == uia::kNameProperty) {
            value->vt = VT_BSTR;
            value->bstrVal = SysAllocString(name_);
        } else if (property == uia::kIsSelectedProperty) {
            value->vt = VT_BOOL;
            value->boolVal = selected_ ? VARIANT_TRUE : VARIANT_FALSE;
        } else {
            return E_INVALIDARG;  // not in the cache request
        }
        return S_OK;
    }
    // Nothing else is asked of a cached read's items.
    HRESULT STDMETHODCALLTYPE SetFocus() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindFirst(int, Condition*, Element**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindAll(int, Condition*, Array**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindFirstBuildCache() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindAllBuildCache(int, Condition*, Request*, Array**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BuildUpdatedCache() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPropertyValue(int, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPropertyValueEx() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCachedPropertyValueEx() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPatternAs(int, REFIID, void**) override { return E_NOTIMPL; }

private:
    const wchar_t* name_;
    bool selected_;
};

class FakeTabItemArray final : public Owned<uia::IUIAutomationElementArray> {
public:
    explicit FakeTabItemArray(std::vector<Microsoft::WRL::ComPtr<uia::IUIAutomationElement>> items)
        : items_(std::move(items)) {}
    HRESULT STDMETHODCALLTYPE get_Length(int* length) override {
        *length = static_cast<int>(items_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetElement(int index, uia::IUIAutomationElement** element) override {
        *element = nullptr;
        if (index < 0 || index >= static_cast<int>(items_.size())) return E_INVALIDARG;
        if (!items_[index]) return E_FAIL;
        return items_[index].CopyTo(element);
    }

private:
    std::vector<Microsoft::WRL::ComPtr<uia::IUIAutomationElement>> items_;
};

}  // namespace

Microsoft::WRL::ComPtr<uia::IUIAutomationElementArray> FakeTabItems(std::vector<const wchar_t*> names, int selected,
                                                                     int unavailable) {
    std::vector<Microsoft::WRL::ComPtr<uia::IUIAutomationElement>> items;
    for (int i = 0; i < static_cast<int>(names.size()); ++i) {
        items.emplace_back();
        if (i != unavailable) items.back().Attach(new FakeTabItem(names[i], i == selected));
    }
    Microsoft::WRL::ComPtr<uia::IUIAutomationElementArray> array;
    array.Attach(new FakeTabItemArray(std::move(items)));
    return array;
}

// How long an UnansweringWindow's thread stays hung after its call was
// cancelled.
constexpr DWORD kHangsOnAfterCancelMs = 3000;

// The object behind an UnansweringWindow.
class UnansweringOleWindow final : public IOleWindow {
public:
    UnansweringOleWindow(HANDLE called, HANDLE answered, const std::atomic<HRESULT>& answer)
        : called_(called), answered_(answered), answer_(answer) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return AnswerQuery<IUnknown, IOleWindow>(this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* handle) override {
        SetEvent(called_);
        // Left unanswered, it answers: a test fails instead of hanging.
        if (WaitForSingleObject(answered_, 30000) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "an unanswering window was neither answered nor cancelled within 30 s\n");
        }
        if (!handle) return E_POINTER;
        *handle = nullptr;
        return answer_;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

private:
    std::atomic<ULONG> references_{1};
    HANDLE called_;
    HANDLE answered_;
    const std::atomic<HRESULT>& answer_;
};

struct UnansweringWindow::State {
    HANDLE called = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE answered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    IStream* stream = nullptr;
    HANDLE thread = nullptr;
    std::atomic<HRESULT> answer{E_FAIL};

    // A single-threaded apartment, as an Explorer window's: its thread
    // answers calls from its message loop, and while it is blocked in
    // GetWindow, or for a while after a cancelled one (the window still
    // hangs), every call into it waits, a proxy's last Release included.
    static DWORD WINAPI Serve(LPVOID context) {
        auto* state = static_cast<State*>(context);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        auto* object = new UnansweringOleWindow(state->called, state->answered, state->answer);
        CoMarshalInterThreadInterfaceInStream(__uuidof(IOleWindow), object, &state->stream);
        SetEvent(state->ready);
        bool hangsOn = false;
        while (MsgWaitForMultipleObjects(1, &state->quit, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            if (!hangsOn && state->answer == RPC_E_CALL_CANCELED) {
                hangsOn = true;
                WaitForSingleObject(state->quit, kHangsOnAfterCancelMs);
            }
        }
        object->Release();
        CoUninitialize();
        return 0;
    }
};

UnansweringWindow::UnansweringWindow() : state_(std::make_unique<State>()) {
    state_->thread = CreateThread(nullptr, 0, State::Serve, state_.get(), 0, nullptr);
    WaitForSingleObject(state_->ready, 10000);
}

UnansweringWindow::~UnansweringWindow() {
    Answer();
    if (state_->stream) state_->stream->Release();
    SetEvent(state_->quit);
    if (state_->thread) {
        WaitForSingleObject(state_->thread, 10000);
        CloseHandle(state_->thread);
    }
    for (HANDLE event : {state_->called, state_->answered, state_->quit, state_->ready}) CloseHandle(event);
}

IStream* UnansweringWindow::TakeMarshalled() { return std::exchange(state_->stream, nullptr); }
bool UnansweringWindow::WaitUntilCalled(DWORD timeoutMs) {
    return WaitForSingleObject(state_->called, timeoutMs) == WAIT_OBJECT_0;
}
void UnansweringWindow::Answer() { SetEvent(state_->answered); }
void UnansweringWindow::Cancel() {
    state_->answer = RPC_E_CALL_CANCELED;
    SetEvent(state_->answered);
}
