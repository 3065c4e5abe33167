// The updater's working memory while it applies one large member: the whole
// updater run on the test machine (the sample game installed, an update of
// one member of N MiB, compressed and scrambled as shipped), with the peak
// of the heap blocks it holds at once (the test machine counts them). The
// mapped archive itself is not counted: it is the executable's image.
//
//   update_memory_bench [MiB...]      (default 16 64)
//
// Prints one row per size: member, peak working memory, and their ratio.
// Goal: a peak of the directory plus a constant, whatever the member size.
#include <cstdio>
#include <cstdlib>
#include <random>

#include "unit/reliability_sample.h"

using namespace reliability;

namespace {

std::string MemberOfSize(size_t bytes) {
  // Half text-like, half random: some of it compresses, some does not.
  std::mt19937 random(12345);
  std::string data;
  data.reserve(bytes);
  static const char* const kWords[] = {"sprite ", "tile ", "map ", "level ", "sound ", "\r\n"};
  while (data.size() < bytes / 2) data += kWords[random() % 6];
  while (data.size() < bytes) data += char(random());
  data.resize(bytes);
  return data;
}

} // namespace

int main(int argc, char** argv) {
  std::vector<size_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(size_t(std::atoi(argv[i])));
  if (sizes.empty()) sizes = {16, 64};
  std::printf("%10s %14s %8s\n", "member MiB", "peak MiB", "ratio");
  for (size_t mib : sizes) {
    InstallSampleGame();
    const std::string ini =
        std::string("[SETUP]\r\nCompanyName=SampleSoft\r\nGameTitle=t\r\nGameClass=SampleGameWindow\r\n") +
        "GameDir=SampleGame\r\n[UPDATE]\r\nUpdateFile00=BIG.DAT\r\n";
    const PackForm form;
    std::vector<fa2::PackMember> members = {MemberOf({"UPDATE.INI", ini}, form),
                                            MemberOf({"BIG.DAT", MemberOfSize(mib << 20)}, form)};
    fake::SetResource(fa2::BuildArchive(members, fa2::PackOptions{}));
    fake::SetDialogScript(ClickThrough);
    const int exitCode = RunUpdater(nullptr);
    const double peak = double(fake::PeakBlockBytes()) / (1 << 20);
    std::printf("%10zu %14.1f %8.2f%s\n", mib, peak, peak / double(mib), exitCode == 1 ? "" : "  (update failed)");
  }
  return 0;
}
