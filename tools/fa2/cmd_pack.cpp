// fa2 pack: files to an archive.
#include <algorithm>
#include <cstdio>
#include <map>

#include "fa2/commands.h"

namespace {

const char kHelp[] =
    "usage: fa2 pack -o OUT [options] FILE...\n"
    "\n"
    "Writes an FA2 archive holding the FILEs in the order given. Each member is\n"
    "named by its bare file name (at most 259 bytes in code page 932, unique\n"
    "regardless of letter case) and carries the file's modification time.\n"
    "\n"
    "options:\n"
    "  -o OUT               the archive to write\n"
    "  --compress           compress members (a member that would not get\n"
    "                       smaller is stored as it is)\n"
    "  --scramble           scramble members\n"
    "  --directory FORM     plain, compressed, scrambled or compressed+scrambled\n"
    "                       (default: compressed+scrambled, as shipped updaters use)\n"
    "  --member NAME=FORM   this member's form, overriding --compress/--scramble;\n"
    "                       FORM as for --directory\n"
    "  --store NAME         the same as --member NAME=plain\n"
    "  --level N            1 fast, 2 thorough, 3 best (default 2)\n"
    "  --time UTC           stamp every member with this time instead of the\n"
    "                       file's (\"YYYY-MM-DD HH:MM:SS\", UTC), for builds\n"
    "                       that must come out the same every time\n";

struct Form {
  bool compress, scramble;
};

bool ParseForm(const std::string& text, Form* form) {
  static const std::map<std::string, Form> forms = {{"plain", {false, false}},
                                                    {"compressed", {true, false}},
                                                    {"scrambled", {false, true}},
                                                    {"compressed+scrambled", {true, true}}};
  auto it = forms.find(text);
  if (it == forms.end()) return false;
  *form = it->second;
  return true;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return s;
}

} // namespace

int RunPack(const Args& args) {
  if (WantsHelp(args)) return Usage(kHelp);
  std::string output;
  Form defaults{false, false};
  Form directory{true, true};
  std::map<std::string, Form> perMember; // key: upper-cased local name
  fa2::PackOptions options;
  FileTime fixedTime{};
  bool useFixedTime = false;
  Args files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string v;
    if (a == "-o") {
      if (!value(&output)) return Fail("pack: -o needs a file name");
    } else if (a == "--compress") {
      defaults.compress = true;
    } else if (a == "--scramble") {
      defaults.scramble = true;
    } else if (a == "--directory") {
      if (!value(&v) || !ParseForm(v, &directory))
        return Fail("pack: --directory takes plain, compressed, scrambled or compressed+scrambled");
    } else if (a == "--store") {
      if (!value(&v)) return Fail("pack: --store needs a member name");
      perMember[Upper(v)] = Form{false, false};
    } else if (a == "--member") {
      Form f;
      size_t eq;
      if (!value(&v) || (eq = v.rfind('=')) == std::string::npos || !ParseForm(v.substr(eq + 1), &f))
        return Fail("pack: --member takes NAME=FORM (FORM: plain, compressed, scrambled, compressed+scrambled)");
      perMember[Upper(v.substr(0, eq))] = f;
    } else if (a == "--level") {
      if (!value(&v) || (v != "1" && v != "2" && v != "3")) return Fail("pack: --level takes 1, 2 or 3");
      options.level = std::stoi(v);
    } else if (a == "--time") {
      if (!value(&v) || !fa2::ParseUtc(v, &fixedTime)) return Fail("pack: --time takes \"YYYY-MM-DD HH:MM:SS\" (UTC)");
      useFixedTime = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return Fail("pack: unknown option '" + a + "' (see 'fa2 pack --help')");
    } else {
      files.push_back(a);
    }
  }
  if (output.empty()) return Fail("pack: no output given (-o OUT)");
  if (files.empty()) return Fail("pack: no files given");
  options.compressDirectory = directory.compress;
  options.scrambleDirectory = directory.scramble;

  std::vector<fa2::PackMember> members;
  std::map<std::string, std::string> seen;
  for (const std::string& path : files) {
    fa2::PackMember m;
    std::string local = fa2::BaseNameOf(path), error;
    if (!fa2::LocalToCp932(local, m.name)) return Fail("pack: " + path + ": name cannot be written in code page 932");
    if (m.name.empty() || m.name.size() >= kNameCapacity)
      return Fail("pack: " + path + ": member name must be 1 to 259 bytes in code page 932");
    std::string key = Upper(m.name);
    if (seen.count(key)) return Fail("pack: " + path + " and " + seen[key] + " would both be member " + local);
    seen[key] = path;
    fa2::FileSource file; // opened here only to report what cannot be read before anything is written
    if (!file.Open(path, error)) return FailFile("pack: " + error);
    if (file.Size() > fa2::kMaxMemberSize) return Fail("pack: " + path + ": larger than 4 GiB");
    if (useFixedTime)
      m.time = fixedTime;
    else if (!fa2::ModificationTime(path, &m.time, &error))
      return FailFile("pack: " + error);
    Form f = defaults;
    if (auto it = perMember.find(Upper(local)); it != perMember.end()) {
      f = it->second;
      perMember.erase(it);
    }
    m.path = path;
    m.compress = f.compress;
    m.scramble = f.scramble;
    members.push_back(std::move(m));
  }
  if (!perMember.empty()) return Fail("pack: --member/--store names no given file: " + perMember.begin()->first);
  std::string error;
  fa2::FileOutput out;
  if (!out.Create(output, error)) return FailFile("pack: " + error);
  options.threads = EncoderThreads();
  fa2::ArchiveWriter writer(out, options);
  for (const fa2::PackMember& m : members)
    if (!writer.Add(m, error)) return FailFile("pack: " + error);
  if (!writer.Finish(error)) return FailFile("pack: " + error);
  const uint64_t size = out.Size();
  if (!out.Commit(error)) return FailFile("pack: " + error);
  const fa2::PackStats& stats = writer.Stats();
  std::printf("%s: %zu members, %llu bytes in, %llu bytes stored, archive %llu bytes\n", output.c_str(), members.size(),
              (unsigned long long)stats.bytesIn, (unsigned long long)stats.bytesStored, (unsigned long long)size);
  return 0;
}
