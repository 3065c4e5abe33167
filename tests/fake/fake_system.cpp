// The test machine's memory, registry, resource, windows, dialog model,
// message boxes, shell copy and string routines.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include "fake/fake_state.h"

namespace fake {

Machine& M() {
  static Machine machine;
  return machine;
}

void Reset() {
  for (auto& [block, size] : M().blocks) std::free(block);
  M() = Machine{};
  SetDriveType('C', 3);
  AddDirectory("C:\\TEMP");
}

void FailAllocationAfter(int skip) { M().allocationsBeforeFailure = skip; }
int LiveBlockCount() { return int(M().blocks.size()); }
size_t PeakBlockBytes() { return M().peakBlockBytes; }

void AddRegistryKey(const std::string& key) { M().registry[Key(key)]; }
void SetRegistryString(const std::string& key, const std::string& name, const std::string& value) {
  M().registry[Key(key)][Key(name)] = value + std::string(1, '\0');
}
void SetRegistryNumber(const std::string& key, const std::string& name, uint32_t value) {
  M().registry[Key(key)][Key(name)] = std::string(reinterpret_cast<const char*>(&value), 4);
}

void SetResource(const std::vector<uint8_t>& bytes) { M().resource = bytes; }
void SetResourceStatedSize(uint32_t bytes) { M().resourceStatedSize = bytes; }
void FailBinding(bool fail) { M().failBinding = fail; }
int ComInitialisedCount() { return M().comCount; }

const std::vector<BoxCall>& Boxes() { return M().boxes; }
void QueueAnswer(int answer) { M().answers.push_back(answer); }
void OnBox(std::function<void(const BoxCall&)> hook) { M().boxHook = std::move(hook); }

WindowHandle AddTopWindow(const char* className, const std::string& title) {
  uintptr_t id = M().nextWindow++;
  M().windows[id] = TopWindow{className ? className : "#32770", title, {}};
  return reinterpret_cast<WindowHandle>(id);
}
void RemoveTopWindow(WindowHandle window) { M().windows.erase(reinterpret_cast<uintptr_t>(window)); }
WindowEvents EventsOf(WindowHandle window) {
  auto it = M().windows.find(reinterpret_cast<uintptr_t>(window));
  return it == M().windows.end() ? WindowEvents{} : it->second.events;
}

WindowHandle DialogWindow() { return &M().dialog; }

void SetDialogScript(std::function<void(WindowHandle)> script) { M().dialogScript = std::move(script); }
void SetDialogFails(bool fail) { M().dialogFails = fail; }
WindowHandle CurrentDialog() { return M().dialog.open ? DialogWindow() : nullptr; }
int DialogTemplate() { return M().dialog.templateId; }
std::string DialogCaption() { return M().dialog.caption; }
Control ControlState(int id) {
  auto it = M().dialog.controls.find(id);
  return it == M().dialog.controls.end() ? Control{} : it->second;
}

void SendCommand(int id, int notification) {
  DialogModel& d = M().dialog;
  if (d.open && !d.ended && d.handlers) d.handlers->command(DialogWindow(), id, notification);
}

void Click(int id) {
  Control c = ControlState(id);
  if (c.exists && c.visible && c.enabled) SendCommand(id, 0);
}

int SendSetCursor() {
  DialogModel& d = M().dialog;
  return (d.open && d.handlers) ? d.handlers->setCursor(DialogWindow()) : 0;
}

bool DialogEnded() { return M().dialog.ended; }
int CurrentCursor() { return M().cursor; }

const std::vector<CopyCall>& Copies() { return M().copies; }
void OnCopy(std::function<int(const CopyCall&, int*)> handler) { M().copyHandler = std::move(handler); }

namespace {

// The entries directly in folder `path`, copied.
std::vector<Node> Children(const std::string& path) {
  const std::string prefix = Key(path) + "\\";
  std::vector<Node> children;
  for (auto& [key, node] : M().files)
    if (key.compare(0, prefix.size(), prefix) == 0 && key.find('\\', prefix.size()) == std::string::npos)
      children.push_back(node);
  return children;
}

void CopyTree(const std::string& from, const std::string& to) {
  Node source = *Find(from);
  if (!source.directory) {
    AddFile(to, source.content, source.times.write, source.attributes);
    return;
  }
  AddDirectory(to);
  for (const Node& child : Children(from)) CopyTree(child.path, to + "\\" + BaseName(child.path));
}

} // namespace

int DefaultCopy(const CopyCall& call, int* aborted) {
  *aborted = 0;
  Node* source = Find(call.from);
  if (!source) return 0x402;
  // A folder goes into `to` when that is a folder already, else becomes it.
  const Node* into = Find(call.to);
  std::string target = source->directory && into && into->directory ? call.to + "\\" + BaseName(call.from) : call.to;
  if (!(call.flags & kCopyMakeFolders) && !Find(Parent(target))) return 0x402;
  CopyTree(call.from, target);
  return 0;
}

} // namespace fake

using namespace fake;

int BindSystemOperations() { return M().failBinding ? 0 : 1; }
void InitialiseCom() { ++M().comCount; }

void* AllocateBlock(size_t bytes, bool zeroFill) {
  if (M().allocationsBeforeFailure == 0) {
    M().allocationsBeforeFailure = -1;
    return nullptr;
  }
  if (M().allocationsBeforeFailure > 0) --M().allocationsBeforeFailure;
  void* block = zeroFill ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  M().blocks[block] = bytes;
  M().liveBlockBytes += bytes;
  M().peakBlockBytes = std::max(M().peakBlockBytes, M().liveBlockBytes);
  return block;
}

void FreeBlock(void* block) {
  auto it = M().blocks.find(block);
  if (it == M().blocks.end()) return;
  M().liveBlockBytes -= it->second;
  M().blocks.erase(it);
  std::free(block);
}

int OpenUserKey(const char* path, RegistryKey* key) {
  auto it = M().registry.find(Key(path));
  if (it == M().registry.end()) return 0;
  *key = M().nextKey++;
  M().openKeys[*key] = it->first;
  return 1;
}

int QueryKeyValue(RegistryKey key, const char* name, void* data, uint32_t* size) {
  auto k = M().openKeys.find(key);
  if (k == M().openKeys.end()) return 0;
  auto& values = M().registry[k->second];
  auto v = values.find(Key(name));
  if (v == values.end()) return M().lastError = 2, 0;
  // A value the real layer could not give in Shift-JIS is stored as one
  // 0xFF byte here (never a valid string of the test machine).
  if (v->second == std::string("\xFF", 2)) return M().lastError = kErrorNoMapping, 0;
  if (v->second.size() > *size) return M().lastError = kErrorMoreData, 0;
  std::memcpy(data, v->second.data(), v->second.size());
  *size = uint32_t(v->second.size());
  return 1;
}

void CloseUserKey(RegistryKey key) { M().openKeys.erase(key); }

ResourceHandle FindUpdateResource(ModuleHandle) { return M().resource.empty() ? nullptr : &M().resource; }
uint32_t ResourceSize(ModuleHandle, ResourceHandle r) {
  if (!r) return 0;
  return M().resourceStatedSize ? M().resourceStatedSize : uint32_t(M().resource.size());
}
void* LoadResourceData(ModuleHandle, ResourceHandle r) { return r; }
const uint8_t* LockResourceData(void* loaded) { return loaded ? M().resource.data() : nullptr; }
// Each piece is hashed only at the next call, as a digest on another thread
// may read it: a caller that changes a piece too early gets a wrong digest.
struct FakeDigest {
  EVP_MD_CTX* context;
  const void* pending;
  size_t size;
};
static int HashPending(FakeDigest* d) {
  const int ok = !d->size || EVP_DigestUpdate(d->context, d->pending, d->size) == 1;
  d->size = 0;
  return ok;
}
DigestHandle BeginDigest() {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1) return new FakeDigest{context, nullptr, 0};
  EVP_MD_CTX_free(context);
  return nullptr;
}
int UpdateDigest(DigestHandle digest, const void* data, size_t size) {
  auto* d = static_cast<FakeDigest*>(digest);
  const int ok = HashPending(d);
  d->pending = data;
  d->size = size;
  return ok;
}
int FinishDigest(DigestHandle digest, uint8_t out[32]) {
  auto* d = static_cast<FakeDigest*>(digest);
  unsigned int length = 0;
  const int ok = HashPending(d) && EVP_DigestFinal_ex(d->context, out, &length) == 1 && length == 32;
  EVP_MD_CTX_free(d->context);
  delete d;
  return ok;
}

// The test machine's random bytes: OpenSSL's generator, as unpredictable as
// the system's.
int RandomBytes(void* out, uint32_t count) { return RAND_bytes(static_cast<unsigned char*>(out), int(count)) == 1; }

// The test machine's module image is the resource's own bytes.
int ModuleHoldsRange(ModuleHandle, const void* start, uint32_t size) {
  const uint8_t* from = M().resource.data();
  const uint8_t* at = static_cast<const uint8_t*>(start);
  return at >= from && at <= from + M().resource.size() && size <= M().resource.size() - size_t(at - from);
}

int ShellCopy(WindowHandle owner, const char* from, const char* to, uint16_t flags, int* aborted) {
  CopyCall call{owner, from, to, flags};
  M().copies.push_back(call);
  *aborted = 0;
  return M().copyHandler ? M().copyHandler(call, aborted) : DefaultCopy(call, aborted);
}

int ShellMove(const char* from, const char* to) {
  Node* source = Find(from);
  if (!source || !Find(to)) return 0x402;
  const std::string target = std::string(to) + "\\" + BaseName(from);
  if (Node* existing = Find(target); existing && existing->directory != source->directory) return 0x402;
  CopyTree(from, target);
  return ShellDelete(from);
}

int ShellDelete(const char* path) {
  const std::string key = Key(path), prefix = key + "\\";
  if (!Find(path)) return 0x402;
  std::erase_if(M().files, [&](const auto& entry) {
    return entry.first == key || entry.first.compare(0, prefix.size(), prefix) == 0;
  });
  return 0;
}

int ListFolder(const char* folder, FolderVisit visit, void* context) {
  Node* listed = Find(folder);
  if (!listed || !listed->directory) return 0;
  for (const Node& child : Children(folder))
    if (!visit(context, BaseName(child.path).c_str(), child.directory ? kAttrDirectory : child.attributes,
               child.content.size()))
      return 0;
  return 1;
}

WindowHandle FindTopWindow(const char* className, const char* title) {
  std::string cls = className ? className : "#32770";
  for (auto& [id, w] : M().windows)
    if (Key(w.className) == Key(cls) && w.title == title) return reinterpret_cast<WindowHandle>(id);
  DialogModel& d = M().dialog;
  if (d.open && !d.ended && cls == "#32770" && d.caption == title) return DialogWindow();
  return nullptr;
}

void ShowTopWindow(WindowHandle window, int show) {
  auto it = M().windows.find(reinterpret_cast<uintptr_t>(window));
  if (it != M().windows.end() && show) ++it->second.events.shown;
}

void BringToFront(WindowHandle window) {
  auto it = M().windows.find(reinterpret_cast<uintptr_t>(window));
  if (it != M().windows.end()) ++it->second.events.broughtForward;
}

namespace {

void AddControl(DialogModel& d, int id, const char* text) {
  Control c;
  c.exists = true;
  c.text = text;
  d.controls[id] = c;
}

} // namespace

intptr_t RunModalDialog(ModuleHandle, int templateId, const DialogHandlers* handlers) {
  if (M().dialogFails || (templateId != 100 && templateId != 101)) return -1;
  DialogModel& d = M().dialog;
  d = DialogModel{};
  d.templateId = templateId;
  d.caption = "UPDATE";
  d.handlers = handlers;
  d.open = true;
  AddControl(d, 1, "次へ");
  AddControl(d, 2, "中止");
  AddControl(d, 4, "戻る");
  AddControl(d, 1001, "Info");
  if (templateId == 101) {
    AddControl(d, 1000, "");
    AddControl(d, 1002, "同意する");
    AddControl(d, 1003, "同意しない");
  }
  handlers->initialise(DialogWindow());
  if (!d.ended && M().dialogScript) M().dialogScript(DialogWindow());
  d.open = false;
  return d.ended ? d.result : -1;
}

void EndModalDialog(WindowHandle dialog, intptr_t result) {
  DialogModel& d = M().dialog;
  if (dialog != DialogWindow() || d.ended) return;
  d.ended = true;
  d.result = result;
}

namespace {

// Control handles are the addresses of the model's control records.
Control* ControlOf(WindowHandle control) {
  for (auto& [id, c] : M().dialog.controls)
    if (&c == control) return &c;
  return nullptr;
}

} // namespace

WindowHandle DialogControl(WindowHandle dialog, int control) {
  if (dialog != DialogWindow()) return nullptr;
  auto it = M().dialog.controls.find(control);
  return it == M().dialog.controls.end() ? nullptr : &it->second;
}

void EnableControl(WindowHandle control, int enable) {
  if (Control* c = ControlOf(control)) c->enabled = enable != 0;
}

void ShowControl(WindowHandle control, int show) {
  if (Control* c = ControlOf(control)) c->visible = show != 0;
}

void FocusControl(WindowHandle control) {
  for (auto& [id, c] : M().dialog.controls) c.focused = (&c == control);
}

void SetControlText(WindowHandle dialog, int control, const char* text) {
  if (WindowHandle h = DialogControl(dialog, control)) ControlOf(h)->text = text;
}

void SetWindowCaption(WindowHandle window, const char* text) {
  if (window == DialogWindow()) M().dialog.caption = text;
}

void CheckRadio(WindowHandle dialog, int first, int last, int checked) {
  if (dialog != DialogWindow()) return;
  for (auto& [id, c] : M().dialog.controls)
    if (id >= first && id <= last) c.checked = (id == checked);
}

void SetSystemCursor(int cursor) { M().cursor = cursor; }

int MessageBoxText(WindowHandle owner, const char* text, const char* caption, uint32_t style) {
  BoxCall call{owner, text, caption, style};
  M().boxes.push_back(call);
  if (M().boxHook) M().boxHook(call);
  if (M().answers.empty()) return kAnswerOk;
  int answer = M().answers.front();
  M().answers.pop_front();
  return answer;
}

// The string operations are code page 932's own rules, as on a Japanese system.
const char* NextCharacter(const char* p) { return Cp932NextCharacter(p); }
int IsLeadByte(uint8_t b) { return Cp932IsLeadByte(b); }
int CompareNoCase(const char* a, const char* b) { return Cp932CompareNoCase(a, b); }

int ControlEnabled(WindowHandle control) {
  Control* c = ControlOf(control);
  return c && c->enabled ? 1 : 0;
}
