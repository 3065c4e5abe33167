// e2e-driver: plays a scenario script against the updater's windows, as a
// person at the screen would, and reports each step.
//
// Usage: e2e-driver.exe --program <exe> [--shots <folder>] [--signals <folder>]
//                       [--code-page <n>] [--first-exit <name>] <script>
//
// The script is UTF-8 text, one command per line; blank lines and lines
// starting with '#' are ignored. Arguments are separated by blanks; a <text>
// argument is the rest of the line, with the escapes \n \r \t \s (blank) and
// \\. Texts, titles and paths reach the system as UTF-16 and are compared as
// Unicode, and the report is UTF-8: the driver works alike under every ANSI
// code page. It reports that code page first; with --code-page it also
// fails when the system's is another. Every box it finds is reported with
// its text ("# box \"...\""). With --first-exit, once program 1 is seen to
// end, the driver reports its exit code ("# program 1 ended with N") and
// signals <name> to the shell, as "signal <name>" does, before it goes on.
//
//   start [exe]                  start the program (--program unless given)
//   wait-wizard <caption>        wait until the wizard window is visible
//   wait-gone                    wait until the wizard window has closed
//   expect-caption <text>        the wizard's title
//   expect-text <id> <text>      the text of a wizard control
//   expect-enabled <id> 0|1      whether a wizard control is enabled
//   expect-visible <id> 0|1      whether a wizard control is visible
//   expect-checked <id> 0|1      whether a wizard button is checked
//   expect-missing <id>          the wizard has no such control
//   expect-focus <id>            the wizard control with the keyboard focus
//   click <id>                   press a wizard button (must be enabled)
//   set-text <id> <text>         replace a wizard control's text (typing)
//   key escape|enter             a key press in the wizard
//   close                        the wizard's close box
//   wait-box                     wait for a message box of the program
//   expect-box-text <text>       the text of that box
//   expect-box-caption <text>    the caption of that box
//   expect-box-owner wizard|none the owner of that box
//   answer 1|2                   press OK (1) or Cancel (2) of the box
//   expect-no-box [ms]           no box appears within ms (default 500)
//   expect-box-buttons <id>...   the box's buttons, e.g. "1" (OK) or "1 2"
//   expect-box-icon 0|1          whether the box shows an icon
//   screenshot <name>            save the screen as <shots>/<name>.bmp
//   screenshot-wizard <name>     save the wizard window alone
//   screenshot-box <name>        save the message box alone
//   expect-foreground wizard|window [n]  which window has the foreground:
//                                the wizard, or the n-th window opened by
//                                open-window (default the last)
//   expect-description present|gone [n]  the temporary description of
//                                program n (default 1): UPDATE<pid>.INI in
//                                the temporary folder
//   expect-attr <hex> <path>     a file's attributes (GetFileAttributesW)
//   open-window <class> <title>  a top-level window of that class and title,
//                                owned by a thread of the driver (a stand-in
//                                for the running game)
//   close-window                 close the windows opened so far
//   hold-file <path>             open the file with no sharing at all and keep
//                                it open (another program using it)
//   release-files                close the files held
//   reset-activations            forget how often those windows were activated
//   expect-activated <n>         the n-th window opened has been activated
//                                since (brought forward; under Xvfb without a
//                                window manager the foreground itself may
//                                move on to the desktop when a box closes)
//   signal <name>                create <signals>/<name> and wait for the
//                                scenario's shell to create <name>.done
//   sleep <ms>
//   timeout <ms>                 limit of the waits and expectations that follow
//   wait-exit <code> [n]         program n (default 1) ends with this code;
//                                "any" takes every code and prints it
//   walk                         until program 1 ends, as a player who accepts
//                                everything: each box answered with its first
//                                button (its last when the same text comes a
//                                third time in a row, so a repeated question
//                                ends), each new page of the wizard with its
//                                agreement accepted and Next pressed (Abort
//                                when Next stays disabled); every step saved
//                                as <shots>/NN-box.bmp or NN-wizard.bmp and
//                                printed ("# NN ..."); then "# program 1
//                                ended with N". The time limit applies to
//                                each step.
//   answer-until-exit            until program 1 ends: print each box's text
//                                ("# box: ...") and press its OK (else its
//                                Cancel), close the wizard whenever it shows
//                                ("# wizard"); then "# program 1 ended with N"
//
// Expectations are retried until they hold or the time limit passes, since
// a click is only posted to the program. The first failure ends the run with
// exit code 1 (2 for a script error) and a message naming the line; every
// program still running then is ended. A script must see each program it
// started exit.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr WORD kDialogClassAtom = 0x8002;
constexpr int kBoxTextControl = 0xFFFF;

struct Failure {
  int exitCode;
  std::string message;
};

// ---- Text --------------------------------------------------------------------

// Every text the driver holds is UTF-8; the system gets and gives UTF-16.
std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
  return out;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// For messages: control characters shown as escapes.
std::string Show(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else
      out += c;
  }
  return out + "\"";
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    switch (c) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 's': out += ' '; break;
      case '\\': out += '\\'; break;
      default:
        out += '\\';
        out += c;
        break;
    }
  }
  return out;
}

void Print(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string WindowText(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(size_t(length) + 1, L'\0');
  int got = GetWindowTextW(window, text.data(), length + 1);
  text.resize(size_t(got > 0 ? got : 0));
  return Utf8(text);
}

std::wstring ClassName(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// What a control shows. An edit control keeps its text to itself: for one of
// another process the window text is only its creation text, so ask it.
std::string ControlText(HWND control) {
  if (lstrcmpiW(ClassName(control).c_str(), L"Edit") != 0) return WindowText(control);
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &length)) return {};
  std::wstring text(size_t(length) + 1, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(control, WM_GETTEXT, WPARAM(length + 1), reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL,
                           5000, &got))
    return {};
  text.resize(size_t(got));
  return Utf8(text);
}

// ---- The programs under test ---------------------------------------------------

struct Program {
  PROCESS_INFORMATION info{};
  bool waited = false;
};

std::vector<Program> gPrograms;

bool IsOurs(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  for (const Program& p : gPrograms)
    if (p.info.dwProcessId == pid) return true;
  return false;
}

bool AnyRunning() {
  for (const Program& p : gPrograms)
    if (WaitForSingleObject(p.info.hProcess, 0) == WAIT_TIMEOUT) return true;
  return false;
}

DWORD ExitCodeOf(const Program& p) {
  DWORD code = 0;
  GetExitCodeProcess(p.info.hProcess, &code);
  return code;
}

void EndAllPrograms() {
  for (Program& p : gPrograms) {
    if (WaitForSingleObject(p.info.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(p.info.hProcess, 255);
      WaitForSingleObject(p.info.hProcess, 5000);
    }
  }
}

// ---- The session: the wizard and the box found last -------------------------

struct Session {
  std::string program;   // path of the program to start
  std::string shots;     // folder of the screenshots
  std::string signals;   // folder shared with the scenario's shell
  DWORD timeout = 10000; // milliseconds
  std::string firstExit; // the signal sent once program 1 has ended
  HWND wizard = nullptr;
  HWND box = nullptr;
};

// Polls `test` every 20 ms until it holds or the time is up. While waiting
// for a window, a program that has ended can never show it: stop early.
template <typename Test>
bool Eventually(DWORD limit, Test test, bool needsProgram = false) {
  DWORD start = GetTickCount();
  for (;;) {
    if (test()) return true;
    if (GetTickCount() - start >= limit) return false;
    if (needsProgram && !gPrograms.empty() && !AnyRunning()) return test();
    Sleep(20);
  }
}

HWND FindWizard(const std::string& caption) {
  HWND w = FindWindowW(reinterpret_cast<LPCWSTR>(ULONG_PTR(kDialogClassAtom)), Wide(caption).c_str());
  return (w && IsWindowVisible(w)) ? w : nullptr;
}

struct BoxSearch {
  HWND wizard;
  HWND found;
};

BOOL CALLBACK ConsiderBox(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<BoxSearch*>(data);
  if (window == search->wizard || !IsWindowVisible(window)) return TRUE;
  if (ClassName(window) != L"#32770" || !IsOurs(window)) return TRUE;
  HWND owner = GetWindow(window, GW_OWNER);
  bool ownerFits = owner == nullptr || (search->wizard && owner == search->wizard);
  if (!ownerFits || !GetDlgItem(window, kBoxTextControl)) return TRUE;
  search->found = window;
  return FALSE;
}

// The program's visible dialog that is not a message box (which has its
// text in control 0xFFFF), whatever its caption.
BOOL CALLBACK ConsiderWizard(HWND window, LPARAM data) {
  if (!IsWindowVisible(window) || ClassName(window) != L"#32770" || !IsOurs(window)) return TRUE;
  if (GetDlgItem(window, kBoxTextControl)) return TRUE;
  *reinterpret_cast<HWND*>(data) = window;
  return FALSE;
}

HWND FindOurWizard() {
  HWND found = nullptr;
  EnumWindows(ConsiderWizard, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND FindBox(HWND wizard) {
  BoxSearch search{wizard && IsWindow(wizard) ? wizard : nullptr, nullptr};
  EnumWindows(ConsiderBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Lets the program take up what was posted to it: a moment to fetch it,
// then a message that returns once its thread reads messages again.
void Settle(HWND window) {
  Sleep(50);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
}

// Saves a rectangle of the screen (all of it when `area` is null) as a BMP.
bool SaveScreen(const std::string& path, const RECT* area = nullptr) {
  RECT whole{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  RECT r = whole;
  if (area && !IntersectRect(&r, area, &whole)) return false;
  int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    SelectObject(memory, old);
    DWORD stride = (DWORD(width) * 3 + 3) & ~3u;
    DWORD imageSize = stride * DWORD(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + imageSize;
    if (FILE* out = _wfopen(Wide(path).c_str(), L"wb")) {
      ok = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&header, sizeof header, 1, out) == 1 &&
           std::fwrite(bits, imageSize, 1, out) == 1;
      ok = (std::fclose(out) == 0) && ok;
    }
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

// ---- Stand-in windows (the "running game") -------------------------------------

struct StandIn {
  std::wstring className;
  std::wstring title;
  HANDLE ready = nullptr;
  HANDLE thread = nullptr;
  HWND window = nullptr;
  volatile LONG activations = 0;
};

std::vector<StandIn*> gStandIns;

LRESULT CALLBACK StandInProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_ACTIVATE && LOWORD(w) != WA_INACTIVE) {
    if (auto* s = reinterpret_cast<StandIn*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
      InterlockedIncrement(&s->activations);
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, w, l);
}

// Each window has a thread of its own that reads its messages, so that the
// program under test can show it and bring it forward while the script waits.
DWORD WINAPI StandInThread(void* data) {
  auto* s = static_cast<StandIn*>(data);
  WNDCLASSW wc{};
  wc.lpfnWndProc = StandInProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = s->className.c_str();
  RegisterClassW(&wc); // a second window of the same class finds it there
  s->window = CreateWindowExW(0, s->className.c_str(), s->title.c_str(), WS_OVERLAPPEDWINDOW, 40, 40, 320, 160, nullptr,
                              nullptr, wc.hInstance, nullptr);
  if (s->window) {
    SetWindowLongPtrW(s->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(s));
    ShowWindow(s->window, SW_SHOWNORMAL);
    SetForegroundWindow(s->window);
  }
  SetEvent(s->ready);
  if (!s->window) return 1;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

void CloseStandIns() {
  for (StandIn* s : gStandIns) {
    if (s->window && IsWindow(s->window)) PostMessageW(s->window, WM_CLOSE, 0, 0);
    if (s->thread) {
      WaitForSingleObject(s->thread, 5000);
      CloseHandle(s->thread);
    }
    if (s->ready) CloseHandle(s->ready);
    delete s;
  }
  gStandIns.clear();
}

// ---- Commands ------------------------------------------------------------------

struct Line {
  int number;
  std::string command;
  std::vector<std::string> words; // the arguments split at blanks
  std::string rest;               // everything after the command
  std::string restAfterFirst;     // everything after the first argument
};

Failure ScriptError(const Line& line, const std::string& what) {
  return {2, "line " + std::to_string(line.number) + ": " + line.command + ": " + what};
}

Failure Fail(const Line& line, const std::string& what) {
  return {1, "line " + std::to_string(line.number) + ": " + line.command + ": " + what};
}

bool ParseNumber(const std::string& word, long* value) {
  if (word.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(word.c_str(), &end, 0);
  if (*end) return false;
  *value = v;
  return true;
}

class Runner {
public:
  explicit Runner(Session& s) : s_(s) {}

  // Empty message: the command passed.
  Failure Run(const Line& line) {
    const std::string& c = line.command;
    if (c == "start") return Start(line);
    if (c == "wait-wizard") return WaitWizard(line);
    if (c == "wait-gone") return WaitGone(line);
    if (c == "expect-caption") return ExpectCaption(line);
    if (c == "expect-text") return ExpectText(line);
    if (c == "expect-enabled") return ExpectState(line, [](HWND w) { return IsWindowEnabled(w) != 0; });
    if (c == "expect-visible") return ExpectState(line, [](HWND w) { return IsWindowVisible(w) != 0; });
    if (c == "expect-checked")
      return ExpectState(line, [](HWND w) { return SendMessageW(w, BM_GETCHECK, 0, 0) == BST_CHECKED; });
    if (c == "expect-missing") return ExpectMissing(line);
    if (c == "expect-focus") return ExpectFocus(line);
    if (c == "click") return Click(line);
    if (c == "set-text") return SetText(line);
    if (c == "key") return Key(line);
    if (c == "close") return Close(line);
    if (c == "wait-box") return WaitBox(line);
    if (c == "expect-box-text") return ExpectBoxText(line);
    if (c == "expect-box-caption") return ExpectBoxCaption(line);
    if (c == "expect-box-owner") return ExpectBoxOwner(line);
    if (c == "answer") return Answer(line);
    if (c == "expect-no-box") return ExpectNoBox(line);
    if (c == "expect-box-buttons") return ExpectBoxButtons(line);
    if (c == "expect-box-icon") return ExpectBoxIcon(line);
    if (c == "screenshot") return Screenshot(line);
    if (c == "screenshot-wizard") return ScreenshotOf(line, s_.wizard, "wizard");
    if (c == "screenshot-box") return ScreenshotOf(line, s_.box, "box");
    if (c == "expect-foreground") return ExpectForeground(line);
    if (c == "expect-description") return ExpectDescription(line);
    if (c == "expect-attr") return ExpectAttributes(line);
    if (c == "open-window") return OpenWindow(line);
    if (c == "close-window") return CloseWindows(line);
    if (c == "hold-file") return HoldFile(line);
    if (c == "release-files") return ReleaseFiles();
    if (c == "reset-activations") return ResetActivations(line);
    if (c == "expect-activated") return ExpectActivated(line);
    if (c == "signal") return Signal(line);
    if (c == "sleep") return SleepFor(line);
    if (c == "timeout") return SetTimeout(line);
    if (c == "wait-exit") return WaitExit(line);
    if (c == "answer-until-exit") return AnswerUntilExit(line);
    if (c == "walk") return Walk(line);
    return ScriptError(line, "unknown command");
  }

private:
  Session& s_;
  std::vector<HANDLE> held_; // files opened by hold-file

  Failure Start(const Line& line) {
    std::string program = line.rest.empty() ? s_.program : line.rest;
    if (program.empty()) return ScriptError(line, "no program given (--program)");
    Program p;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + Wide(program) + L"\"";
    if (!CreateProcessW(Wide(program).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &p.info))
      return Fail(line, "cannot start " + Show(program) + " (error " + std::to_string(GetLastError()) + ")");
    gPrograms.push_back(p);
    return {};
  }

  Failure NeedWizard(const Line& line) {
    if (!s_.wizard) return ScriptError(line, "no wizard yet (wait-wizard first)");
    if (!IsWindow(s_.wizard)) return Fail(line, "the wizard has closed");
    return {};
  }

  Failure Control(const Line& line, HWND* control) {
    if (Failure f = NeedWizard(line); f.exitCode) return f;
    long id = 0;
    if (line.words.empty() || !ParseNumber(line.words[0], &id)) return ScriptError(line, "control identifier expected");
    *control = GetDlgItem(s_.wizard, int(id));
    if (!*control) return Fail(line, "the wizard has no control " + line.words[0]);
    return {};
  }

  Failure WaitWizard(const Line& line) {
    if (line.rest.empty()) return ScriptError(line, "caption expected");
    std::string caption = (Unescape(line.rest));
    HWND found = nullptr;
    bool ok = Eventually(
        s_.timeout, [&] { return (found = FindWizard(caption)) != nullptr; }, true);
    if (!ok) return Fail(line, "no wizard titled " + Show(caption) + Ended());
    s_.wizard = found;
    return {};
  }

  Failure WaitGone(const Line& line) {
    if (Failure f = NeedWizard(line); f.exitCode == 2) return f;
    HWND w = s_.wizard;
    if (!Eventually(s_.timeout, [&] { return !IsWindow(w) || !IsWindowVisible(w); }))
      return Fail(line, "the wizard is still open");
    return {};
  }

  Failure ExpectCaption(const Line& line) {
    if (Failure f = NeedWizard(line); f.exitCode) return f;
    std::string want = (Unescape(line.rest)), got;
    if (Eventually(s_.timeout, [&] { return (got = WindowText(s_.wizard)) == want; })) return {};
    return Fail(line, "caption is " + Show(got) + ", expected " + Show(want));
  }

  Failure ExpectText(const Line& line) {
    HWND control = nullptr;
    if (Failure f = Control(line, &control); f.exitCode) return f;
    std::string want = (Unescape(line.restAfterFirst)), got;
    if (Eventually(s_.timeout, [&] { return (got = ControlText(control)) == want; })) return {};
    return Fail(line, "control " + line.words[0] + " shows " + Show(got) + ", expected " + Show(want));
  }

  template <typename State>
  Failure ExpectState(const Line& line, State state) {
    HWND control = nullptr;
    if (Failure f = Control(line, &control); f.exitCode) return f;
    if (line.words.size() != 2 || (line.words[1] != "0" && line.words[1] != "1"))
      return ScriptError(line, "expected <id> 0|1");
    bool want = line.words[1] == "1";
    if (Eventually(s_.timeout, [&] { return state(control) == want; })) return {};
    return Fail(line, "control " + line.words[0] + " is " + (want ? "not " : "") + line.command.substr(7));
  }

  Failure ExpectMissing(const Line& line) {
    if (Failure f = NeedWizard(line); f.exitCode) return f;
    long id = 0;
    if (line.words.size() != 1 || !ParseNumber(line.words[0], &id))
      return ScriptError(line, "control identifier expected");
    if (GetDlgItem(s_.wizard, int(id))) return Fail(line, "control " + line.words[0] + " exists");
    return {};
  }

  Failure ExpectFocus(const Line& line) {
    HWND control = nullptr;
    if (Failure f = Control(line, &control); f.exitCode) return f;
    DWORD thread = GetWindowThreadProcessId(s_.wizard, nullptr);
    HWND got = nullptr;
    if (Eventually(s_.timeout, [&] {
          GUITHREADINFO info{};
          info.cbSize = sizeof info;
          got = GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
          return got == control;
        }))
      return {};
    return Fail(line, "the focus is on " +
                          (got ? "control " + std::to_string(GetDlgCtrlID(got)) : std::string("no control")));
  }

  Failure Click(const Line& line) {
    HWND button = nullptr;
    if (Failure f = Control(line, &button); f.exitCode) return f;
    // A person cannot press a disabled or hidden button; under Wine the
    // message would still go through, so refuse here.
    if (!IsWindowEnabled(button)) return Fail(line, "button " + line.words[0] + " is disabled");
    if (!IsWindowVisible(button)) return Fail(line, "button " + line.words[0] + " is hidden");
    PostMessageW(button, BM_CLICK, 0, 0);
    Settle(s_.wizard);
    return {};
  }

  Failure SetText(const Line& line) {
    HWND control = nullptr;
    if (Failure f = Control(line, &control); f.exitCode) return f;
    std::string text = (Unescape(line.restAfterFirst));
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()), SMTO_NORMAL, 5000,
                        &ignored);
    return {};
  }

  Failure Key(const Line& line) {
    if (Failure f = NeedWizard(line); f.exitCode) return f;
    WPARAM key = 0;
    if (line.rest == "escape")
      key = VK_ESCAPE;
    else if (line.rest == "enter")
      key = VK_RETURN;
    else
      return ScriptError(line, "escape or enter expected");
    // The key goes to the control that has the focus, or to the dialog.
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    HWND target = s_.wizard;
    DWORD thread = GetWindowThreadProcessId(s_.wizard, nullptr);
    if (GetGUIThreadInfo(thread, &info) && info.hwndFocus) target = info.hwndFocus;
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, LPARAM(0xC0000001u));
    Settle(s_.wizard);
    return {};
  }

  Failure Close(const Line& line) {
    if (Failure f = NeedWizard(line); f.exitCode) return f;
    PostMessageW(s_.wizard, WM_SYSCOMMAND, SC_CLOSE, 0);
    Settle(s_.wizard);
    return {};
  }

  Failure WaitBox(const Line& line) {
    HWND found = nullptr;
    bool ok = Eventually(
        s_.timeout, [&] { return (found = FindBox(s_.wizard)) != nullptr; }, true);
    if (!ok) return Fail(line, "no message box appeared" + Ended());
    s_.box = found;
    Print("# box " + Show(WindowText(GetDlgItem(found, kBoxTextControl))));
    return {};
  }

  Failure NeedBox(const Line& line) {
    if (!s_.box) return ScriptError(line, "no box yet (wait-box first)");
    if (!IsWindow(s_.box)) return Fail(line, "the box has closed");
    return {};
  }

  Failure ExpectBoxText(const Line& line) {
    if (Failure f = NeedBox(line); f.exitCode) return f;
    std::string want = (Unescape(line.rest));
    std::string got = WindowText(GetDlgItem(s_.box, kBoxTextControl));
    if (got != want) return Fail(line, "box says " + Show(got) + ", expected " + Show(want));
    return {};
  }

  Failure ExpectBoxCaption(const Line& line) {
    if (Failure f = NeedBox(line); f.exitCode) return f;
    std::string want = (Unescape(line.rest));
    std::string got = WindowText(s_.box);
    if (got != want) return Fail(line, "box caption is " + Show(got) + ", expected " + Show(want));
    return {};
  }

  Failure ExpectBoxOwner(const Line& line) {
    if (Failure f = NeedBox(line); f.exitCode) return f;
    HWND owner = GetWindow(s_.box, GW_OWNER);
    if (line.rest == "none") {
      if (owner) return Fail(line, "the box has an owner");
    } else if (line.rest == "wizard") {
      if (!owner || owner != s_.wizard) return Fail(line, "the box is not owned by the wizard");
    } else {
      return ScriptError(line, "wizard or none expected");
    }
    return {};
  }

  Failure Answer(const Line& line) {
    if (Failure f = NeedBox(line); f.exitCode) return f;
    long id = 0;
    if (!ParseNumber(line.rest, &id) || (id != IDOK && id != IDCANCEL))
      return ScriptError(line, "1 (OK) or 2 (Cancel) expected");
    HWND button = GetDlgItem(s_.box, int(id));
    if (!button || !IsWindowVisible(button)) return Fail(line, "the box has no button " + line.rest);
    if (!IsWindowEnabled(button)) return Fail(line, "button " + line.rest + " is disabled");
    HWND box = s_.box;
    PostMessageW(button, BM_CLICK, 0, 0);
    if (!Eventually(s_.timeout, [&] { return !IsWindow(box); })) return Fail(line, "the box did not close");
    s_.box = nullptr;
    if (s_.wizard && IsWindow(s_.wizard)) Settle(s_.wizard);
    return {};
  }

  Failure ExpectNoBox(const Line& line) {
    long ms = 500;
    if (!line.rest.empty() && !ParseNumber(line.rest, &ms)) return ScriptError(line, "milliseconds expected");
    HWND found = nullptr;
    if (Eventually(DWORD(ms), [&] { return (found = FindBox(s_.wizard)) != nullptr; }))
      return Fail(line, "a box appeared: " + Show(WindowText(GetDlgItem(found, kBoxTextControl))));
    return {};
  }

  Failure Screenshot(const Line& line) {
    if (line.rest.empty()) return ScriptError(line, "name expected");
    if (s_.shots.empty()) {
      Print("# screenshot " + line.rest + " skipped (no --shots folder)");
      return {};
    }
    std::string path = s_.shots + "\\" + line.rest + ".bmp";
    if (!SaveScreen(path)) return Fail(line, "cannot write " + Show(path));
    return {};
  }

  Failure ExpectBoxButtons(const Line& line) {
    if (Failure f = NeedBox(line); f.exitCode) return f;
    std::string want, got;
    for (const std::string& w : line.words) want += (want.empty() ? "" : " ") + w;
    // IDOK .. IDCONTINUE: the buttons a message box can have.
    for (int id = IDOK; id <= IDCONTINUE; ++id) {
      HWND button = GetDlgItem(s_.box, id);
      if (button && IsWindowVisible(button)) got += (got.empty() ? "" : " ") + std::to_string(id);
    }
    if (got != want) return Fail(line, "the box has the buttons \"" + got + "\", expected \"" + want + "\"");
    return {};
  }

  static BOOL CALLBACK FindIcon(HWND child, LPARAM data) {
    if (lstrcmpiW(ClassName(child).c_str(), L"Static") != 0) return TRUE;
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if ((style & SS_TYPEMASK) != SS_ICON || !IsWindowVisible(child)) return TRUE;
    if (!SendMessageW(child, STM_GETICON, 0, 0)) return TRUE;
    *reinterpret_cast<bool*>(data) = true;
    return FALSE;
  }

  Failure ExpectBoxIcon(const Line& line) {
    if (Failure f = NeedBox(line); f.exitCode) return f;
    if (line.rest != "0" && line.rest != "1") return ScriptError(line, "0 or 1 expected");
    bool icon = false;
    EnumChildWindows(s_.box, FindIcon, reinterpret_cast<LPARAM>(&icon));
    if (icon != (line.rest == "1")) return Fail(line, icon ? "the box shows an icon" : "the box shows no icon");
    return {};
  }

  Failure ScreenshotOf(const Line& line, HWND window, const char* what) {
    if (line.rest.empty()) return ScriptError(line, "name expected");
    if (!window || !IsWindow(window)) return ScriptError(line, std::string("no ") + what + " to take");
    if (s_.shots.empty()) {
      Print("# screenshot " + line.rest + " skipped (no --shots folder)");
      return {};
    }
    std::string path = s_.shots + "\\" + line.rest + ".bmp";
    if (!SaveWindow(window, path)) return Fail(line, "cannot write " + Show(path));
    return {};
  }

  static bool SaveWindow(HWND window, const std::string& path) {
    // Let the window finish painting what the last step changed.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Settle(window);
    Sleep(150);
    RECT area{};
    GetWindowRect(window, &area);
    return SaveScreen(path, &area);
  }

  Failure ExpectForeground(const Line& line) {
    HWND want = nullptr;
    if (line.rest == "wizard") {
      if (Failure f = NeedWizard(line); f.exitCode) return f;
      want = s_.wizard;
    } else if (!line.words.empty() && line.words[0] == "window") {
      if (gStandIns.empty()) return ScriptError(line, "no window opened (open-window first)");
      long index = long(gStandIns.size());
      if (line.words.size() > 1 && !ParseNumber(line.words[1], &index))
        return ScriptError(line, "window number expected");
      if (index < 1 || size_t(index) > gStandIns.size())
        return ScriptError(line, "no window " + std::to_string(index) + " was opened");
      want = gStandIns[size_t(index) - 1]->window;
    } else {
      return ScriptError(line, "wizard or window expected");
    }
    HWND got = nullptr;
    if (Eventually(s_.timeout, [&] { return (got = GetForegroundWindow()) == want; })) return {};
    return Fail(line, "the foreground window is " + Show(got ? WindowText(got) : "(none)"));
  }

  Failure ExpectDescription(const Line& line) {
    if (line.words.empty() || (line.words[0] != "present" && line.words[0] != "gone"))
      return ScriptError(line, "present or gone expected");
    long index = 1;
    if (line.words.size() > 1 && !ParseNumber(line.words[1], &index))
      return ScriptError(line, "program number expected");
    if (index < 1 || size_t(index) > gPrograms.size())
      return ScriptError(line, "no program " + std::to_string(index) + " was started");
    wchar_t folder[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, folder);
    std::string path = Utf8(folder) + "UPDATE" + std::to_string(gPrograms[size_t(index) - 1].info.dwProcessId) + ".INI";
    bool want = line.words[0] == "present";
    if (Eventually(s_.timeout,
                   [&] { return (GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES) == want; }))
      return {};
    return Fail(line, Show(path) + (want ? " does not exist" : " still exists"));
  }

  Failure ExpectAttributes(const Line& line) {
    long want = 0;
    if (line.words.size() < 2 || !ParseNumber(line.words[0], &want)) return ScriptError(line, "<hex> <path> expected");
    const std::string& path = line.restAfterFirst;
    DWORD got = GetFileAttributesW(Wide(path).c_str());
    if (got == DWORD(want)) return {};
    char text[64];
    std::snprintf(text, sizeof text, "0x%lX, expected 0x%lX", (unsigned long)got, (unsigned long)want);
    return Fail(line, Show(path) + " has the attributes " + text);
  }

  Failure OpenWindow(const Line& line) {
    if (line.words.size() < 2) return ScriptError(line, "<class> <title> expected");
    auto* s = new StandIn;
    s->className = Wide(line.words[0]);
    s->title = Wide(Unescape(line.restAfterFirst));
    s->ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s->thread = CreateThread(nullptr, 0, StandInThread, s, 0, nullptr);
    gStandIns.push_back(s);
    if (!s->thread || WaitForSingleObject(s->ready, s_.timeout) != WAIT_OBJECT_0 || !s->window)
      return Fail(line, "cannot open the window");
    return {};
  }

  Failure HoldFile(const Line& line) {
    const std::string& path = line.rest;
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return Fail(line, "cannot open " + Show(path) + " (error " + std::to_string(GetLastError()) + ")");
    held_.push_back(file);
    return {};
  }

  Failure ReleaseFiles() {
    for (HANDLE file : held_) CloseHandle(file);
    held_.clear();
    return {};
  }

  Failure CloseWindows(const Line& line) {
    if (gStandIns.empty()) return ScriptError(line, "no window opened (open-window first)");
    CloseStandIns();
    return {};
  }

  Failure ResetActivations(const Line& line) {
    if (gStandIns.empty()) return ScriptError(line, "no window opened (open-window first)");
    for (StandIn* s : gStandIns) InterlockedExchange(&s->activations, 0);
    return {};
  }

  Failure ExpectActivated(const Line& line) {
    long index = 0;
    if (!ParseNumber(line.rest, &index)) return ScriptError(line, "window number expected");
    if (index < 1 || size_t(index) > gStandIns.size())
      return ScriptError(line, "no window " + std::to_string(index) + " was opened");
    StandIn* s = gStandIns[size_t(index) - 1];
    if (Eventually(s_.timeout, [&] { return s->activations > 0; })) return {};
    return Fail(line, "window " + line.rest + " was not activated");
  }

  Failure Signal(const Line& line) {
    if (line.rest.empty()) return ScriptError(line, "name expected");
    return Tell(line, line.rest);
  }

  Failure Tell(const Line& line, const std::string& name) {
    if (s_.signals.empty()) return ScriptError(line, "no --signals folder");
    std::string path = s_.signals + "\\" + name;
    std::string done = path + ".done";
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(line, "cannot create " + Show(path));
    CloseHandle(file);
    if (!Eventually(s_.timeout, [&] { return GetFileAttributesW(Wide(done).c_str()) != INVALID_FILE_ATTRIBUTES; }))
      return Fail(line, "the scenario did not answer (no " + Show(done) + ")");
    return {};
  }

  Failure SleepFor(const Line& line) {
    long ms = 0;
    if (!ParseNumber(line.rest, &ms) || ms < 0) return ScriptError(line, "milliseconds expected");
    Sleep(DWORD(ms));
    return {};
  }

  Failure SetTimeout(const Line& line) {
    long ms = 0;
    if (!ParseNumber(line.rest, &ms) || ms <= 0) return ScriptError(line, "milliseconds expected");
    s_.timeout = DWORD(ms);
    return {};
  }

  Failure WaitExit(const Line& line) {
    long code = 0, index = 1;
    const bool any = !line.words.empty() && line.words[0] == "any";
    if (line.words.empty() || (!any && !ParseNumber(line.words[0], &code)))
      return ScriptError(line, "exit code expected");
    if (line.words.size() > 1 && !ParseNumber(line.words[1], &index))
      return ScriptError(line, "program number expected");
    if (index < 1 || size_t(index) > gPrograms.size())
      return ScriptError(line, "no program " + std::to_string(index) + " was started");
    Program& p = gPrograms[size_t(index) - 1];
    if (WaitForSingleObject(p.info.hProcess, s_.timeout) != WAIT_OBJECT_0)
      return Fail(line, "program " + std::to_string(index) + " is still running");
    p.waited = true;
    DWORD got = ExitCodeOf(p);
    if (any || (index == 1 && !s_.firstExit.empty()))
      Print("# program " + std::to_string(index) + " ended with " + std::to_string(got));
    if (!any && got != DWORD(code))
      return Fail(line, "program " + std::to_string(index) + " ended with " + std::to_string(got) + ", expected " +
                            std::to_string(code));
    return index == 1 ? FirstEnded(line) : Failure{};
  }

  // Program 1 has ended (and its exit code was printed): with --first-exit
  // the shell hears of it once.
  Failure FirstEnded(const Line& line) {
    if (s_.firstExit.empty()) return {};
    std::string name;
    name.swap(s_.firstExit);
    return Tell(line, name);
  }

  // Whatever the program shows, answered the first way, until it ends: for
  // runs whose path is not known in advance (damaged updaters).
  Failure AnswerUntilExit(const Line& line) {
    if (gPrograms.empty()) return ScriptError(line, "no program was started");
    Program& p = gPrograms.front();
    const DWORD start = GetTickCount();
    HWND closed = nullptr;
    while (WaitForSingleObject(p.info.hProcess, 20) == WAIT_TIMEOUT) {
      if (GetTickCount() - start >= s_.timeout) return Fail(line, "the program is still running");
      HWND wizard = FindOurWizard();
      if (HWND box = FindBox(wizard)) {
        Print("# box: " + WindowText(GetDlgItem(box, kBoxTextControl)));
        HWND button = GetDlgItem(box, IDOK);
        if (!button || !IsWindowVisible(button)) button = GetDlgItem(box, IDCANCEL);
        if (button) PostMessageW(button, BM_CLICK, 0, 0);
        Eventually(2000, [&] { return !IsWindow(box); });
      } else if (wizard && wizard != closed) {
        Print("# wizard");
        closed = wizard;
        PostMessageW(wizard, WM_SYSCOMMAND, SC_CLOSE, 0);
      }
    }
    p.waited = true;
    Print("# program 1 ended with " + std::to_string(ExitCodeOf(p)));
    return FirstEnded(line);
  }

  static BOOL CALLBACK CollectButton(HWND child, LPARAM data) {
    if (lstrcmpiW(ClassName(child).c_str(), L"Button") == 0 && IsWindowVisible(child))
      reinterpret_cast<std::vector<HWND>*>(data)->push_back(child);
    return TRUE;
  }

  static bool Usable(HWND control) { return control && IsWindowVisible(control) && IsWindowEnabled(control); }

  // One step of the walk: the window saved and the step printed.
  void Record(int step, HWND window, const char* kind, const std::string& what) {
    char number[8];
    std::snprintf(number, sizeof number, "%02d", step);
    std::string shot;
    if (!s_.shots.empty()) {
      const std::string path = s_.shots + "\\" + number + "-" + kind + ".bmp";
      shot = SaveWindow(window, path) ? " (" + std::string(number) + "-" + kind + ")" : " (no screenshot)";
    }
    Print("# " + std::string(number) + " " + what + shot);
  }

  Failure Walk(const Line& line) {
    if (gPrograms.empty()) return ScriptError(line, "no program was started");
    Program& p = gPrograms.front();
    int step = 0, repeats = 0;
    std::string lastBox, lastPage;
    DWORD since = GetTickCount();
    while (WaitForSingleObject(p.info.hProcess, 20) == WAIT_TIMEOUT) {
      if (GetTickCount() - since >= s_.timeout)
        return Fail(line, "nothing happened for " + std::to_string(s_.timeout) + " ms");
      HWND wizard = FindOurWizard();
      if (HWND box = FindBox(wizard)) {
        const std::string text = WindowText(GetDlgItem(box, kBoxTextControl));
        repeats = text == lastBox ? repeats + 1 : 1;
        lastBox = text;
        std::vector<HWND> buttons;
        EnumChildWindows(box, CollectButton, reinterpret_cast<LPARAM>(&buttons));
        if (buttons.empty()) continue;
        HWND button = repeats >= 3 ? buttons.back() : buttons.front();
        Record(++step, box, "box",
               "box " + Show(WindowText(box)) + ": " + Show(text) + " -> " + Show(WindowText(button)));
        PostMessageW(button, BM_CLICK, 0, 0);
        Eventually(s_.timeout, [&] { return !IsWindow(box) || !IsWindowVisible(box); });
        since = GetTickCount();
        continue;
      }
      if (!wizard) continue;
      HWND next = GetDlgItem(wizard, IDOK), abort = GetDlgItem(wizard, IDCANCEL), agree = GetDlgItem(wizard, 1002);
      const bool toAgree = Usable(agree) && SendMessageW(agree, BM_GETCHECK, 0, 0) != BST_CHECKED;
      if (!toAgree && !Usable(next) && !Usable(abort)) continue; // busy: the engine runs
      const std::string page = WindowText(wizard) + "\n" + WindowText(GetDlgItem(wizard, 1001)) + "\n" +
                               WindowText(next) + (Usable(next) ? "1" : "0") + (toAgree ? "1" : "0");
      if (page == lastPage) continue; // the press has not been taken up yet
      lastPage = page;
      std::string what = "wizard " + Show(WindowText(wizard)) + ": " + Show(WindowText(GetDlgItem(wizard, 1001)));
      if (toAgree) {
        PostMessageW(agree, BM_CLICK, 0, 0);
        Eventually(s_.timeout, [&] { return Usable(next); });
        what += " -> " + Show(WindowText(agree));
      }
      HWND press = Usable(next) ? next : abort;
      Record(++step, wizard, "wizard",
             what + " -> " + Show(WindowText(press)) + (press == abort ? " (Next stays disabled)" : ""));
      PostMessageW(press, BM_CLICK, 0, 0);
      since = GetTickCount();
    }
    p.waited = true;
    Print("# program 1 ended with " + std::to_string(ExitCodeOf(p)));
    return FirstEnded(line);
  }

  // Why a wait ended early: the program is gone.
  static std::string Ended() {
    if (gPrograms.empty() || AnyRunning()) return "";
    return " (the program ended with " + std::to_string(ExitCodeOf(gPrograms.back())) + ")";
  }
};

// ---- Script ----------------------------------------------------------------------

bool ReadScript(const std::string& path, std::vector<Line>* lines) {
  FILE* in = _wfopen(Wide(path).c_str(), L"rb");
  if (!in) return false;
  std::string text;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) text.append(chunk, n);
  std::fclose(in);
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);

  int number = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string raw = text.substr(start, end - start);
    start = end + 1;
    ++number;
    while (!raw.empty() && (raw.back() == '\r' || raw.back() == ' ' || raw.back() == '\t')) raw.pop_back();
    size_t first = raw.find_first_not_of(" \t");
    if (first == std::string::npos || raw[first] == '#') continue;
    raw.erase(0, first);

    Line line;
    line.number = number;
    size_t cut = raw.find_first_of(" \t");
    line.command = raw.substr(0, cut);
    if (cut != std::string::npos) {
      size_t restStart = raw.find_first_not_of(" \t", cut);
      line.rest = raw.substr(restStart);
      size_t wordStart = 0;
      while (wordStart < line.rest.size()) {
        size_t wordEnd = line.rest.find_first_of(" \t", wordStart);
        if (wordEnd == std::string::npos) wordEnd = line.rest.size();
        line.words.push_back(line.rest.substr(wordStart, wordEnd - wordStart));
        wordStart = line.rest.find_first_not_of(" \t", wordEnd);
        if (wordStart == std::string::npos) break;
      }
      size_t afterFirst = line.rest.find_first_of(" \t");
      if (afterFirst != std::string::npos) {
        // Exactly one separator: further blanks belong to the text.
        line.restAfterFirst = line.rest.substr(afterFirst + 1);
      }
    }
    lines->push_back(line);
  }
  return true;
}

int Usage() {
  Print(
      "usage: e2e-driver.exe --program <exe> [--shots <folder>] [--signals <folder>] "
      "[--code-page <n>] [--first-exit <name>] <script>");
  return 2;
}

} // namespace

// Wide arguments (-municode): paths arrive whole under every code page.
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  Session session;
  std::string scriptPath;
  long codePage = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = Utf8(argv[i]);
    if (a == "--program" && i + 1 < argc)
      session.program = Utf8(argv[++i]);
    else if (a == "--shots" && i + 1 < argc)
      session.shots = Utf8(argv[++i]);
    else if (a == "--signals" && i + 1 < argc)
      session.signals = Utf8(argv[++i]);
    else if (a == "--code-page" && i + 1 < argc && ParseNumber(Utf8(argv[i + 1]), &codePage))
      ++i;
    else if (a == "--first-exit" && i + 1 < argc)
      session.firstExit = Utf8(argv[++i]);
    else if (scriptPath.empty() && a.rfind("--", 0) != 0)
      scriptPath = a;
    else
      return Usage();
  }
  if (scriptPath.empty()) return Usage();

  Print("# ANSI code page " + std::to_string(GetACP()));
  if (codePage && GetACP() != UINT(codePage)) {
    Print("FAIL the system's ANSI code page is " + std::to_string(GetACP()) + ", expected " + std::to_string(codePage));
    return 1;
  }

  std::vector<Line> lines;
  if (!ReadScript(scriptPath, &lines)) {
    Print("cannot read the script " + scriptPath);
    return 2;
  }

  Runner runner(session);
  int passed = 0;
  for (const Line& line : lines) {
    Failure f = runner.Run(line);
    if (f.exitCode) {
      Print("FAIL " + f.message);
      EndAllPrograms();
      CloseStandIns();
      return f.exitCode;
    }
    Print("ok   " + std::to_string(line.number) + " " + line.command + (line.rest.empty() ? "" : " " + line.rest));
    ++passed;
  }
  for (size_t i = 0; i < gPrograms.size(); ++i) {
    if (!gPrograms[i].waited) {
      Print("FAIL program " + std::to_string(i + 1) + " was never seen to exit (end with wait-exit)");
      EndAllPrograms();
      CloseStandIns();
      return 1;
    }
  }
  CloseStandIns();
  Print("PASS " + std::to_string(passed) + " steps");
  return 0;
}
