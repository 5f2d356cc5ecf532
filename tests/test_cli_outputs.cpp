// How the program writes its outputs: a new file replaces the output name
// only once the job has succeeded, with the input's permissions and times;
// a link at the output name is replaced, never written through; devices
// are written in place; closed standard descriptors, a file-size limit and
// the memory limit cost no data.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli_harness.h"

namespace mx::test {
namespace {

struct stat status_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

mode_t permissions(const std::string& path) { return status_of(path).st_mode & 07777; }

TEST_F(Cli, OutputsTakeTheInputsPermissionsOrTheUmask) {
  const Bytes data = sample_text(3000);
  write_bytes(path("in"), data);
  for (const mode_t umask : {022, 077}) {
    RunOptions o;
    o.shell_setup = "; umask " + std::to_string(umask / 64) + std::to_string(umask / 8 % 8) +
                    std::to_string(umask % 8);
    SCOPED_TRACE(o.shell_setup);
    // Set-user-ID and the like are not passed on.
    for (const mode_t mode : {0600, 0640, 04751}) {
      ASSERT_EQ(::chmod(path("in").c_str(), mode), 0);
      ASSERT_EQ(run({"c1", "12", path("in"), path("in.mx")}, o).status, 0);
      EXPECT_EQ(permissions(path("in.mx")), mode & 0777) << mode;
      ASSERT_EQ(run({"d", path("in.mx"), path("in.dec")}, o).status, 0);
      EXPECT_EQ(permissions(path("in.dec")), mode & 0777) << mode;
    }
    // From standard input: 0666 less the umask, whatever stood there.
    ASSERT_EQ(::chmod(path("in.mx").c_str(), 0600), 0);
    o.stdin_path = path("in");
    ASSERT_EQ(run({"c1", "12", ":", path("in.mx")}, o).status, 0);
    EXPECT_EQ(permissions(path("in.mx")), 0666 & ~umask);
  }
  if (::geteuid() == 0) {
    // Where the owner may, the group is the input's too.
    ASSERT_EQ(::chown(path("in").c_str(), static_cast<uid_t>(-1), 4242), 0);
    ASSERT_EQ(run({"c1", "12", path("in"), path("in.mx")}).status, 0);
    EXPECT_EQ(status_of(path("in.mx")).st_gid, 4242u);
  }
}

TEST_F(Cli, OutputsTakeTheInputsTimes) {
  write_bytes(path("in"), sample_text(3000));
  const timespec times[2] = {{1000000000, 123456789}, {1200000000, 987654321}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path("in").c_str(), times, 0), 0);
  // Each output is looked at before anything reads it (and so moves its
  // access time).
  for (const auto& job : {std::vector<std::string>{"c3", "12", path("in"), path("in.mx")},
                          std::vector<std::string>{"d", path("in.mx"), path("in.dec")}}) {
    ASSERT_EQ(run(job).status, 0);
    const struct stat st = status_of(job.back());
    EXPECT_EQ(st.st_atim.tv_sec, times[0].tv_sec) << job[0];
    EXPECT_EQ(st.st_atim.tv_nsec, times[0].tv_nsec) << job[0];
    EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec) << job[0];
    EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec) << job[0];
  }
}

// Each failure leaves the earlier output as it was, and no temporary file.
TEST_F(Cli, AFailedJobLeavesTheEarlierOutput) {
  write_bytes(path("in"), random_bytes(200000, 5));
  ASSERT_EQ(run({"c1", "20", path("in"), path("in.mx")}).status, 0);
  ASSERT_EQ(run({"a", path("in"), path("in.auto")}).status, 0);
  const std::uint8_t chosen = read_bytes(path("in.auto")).at(0);
  Bytes cut = read_bytes(path("in.mx"));
  cut.resize(cut.size() / 2);
  write_bytes(path("cut.mx"), cut);
  struct Case {
    std::string name;
    std::vector<std::string> args;
    std::string shell_setup;
    std::string expected_err;
  };
  const std::string out = path("out");
  const Case cases[] = {
      {"a truncated stream",
       {"d", path("cut.mx"), out},
       "",
       failure_err(decoding_progress(1), kEarlyEnd)},
      // Past the limit a write fails: a message, not a signal.
      {"a file-size limit",
       {"c1", "16", path("in"), out},
       "; ulimit -f 8",
       failure_err(encoding_progress(1), kWriteOut)},
      // Tables beyond the memory limit: refused before anything starts.
      {"compression beyond the memory limit",
       {"c1", "21", path("in"), out},
       "; export MOLTAVEX_MEMLIMIT=8M",
       failure_err("", kOutOfMemory)},
      {"decompression beyond the memory limit",
       {"d", path("in.mx"), out},
       "; export MOLTAVEX_MEMLIMIT=7m",
       failure_err("", kOutOfMemory)},
      // The chosen stream is written out as a job's would be.
      {"the automatic choice past a file-size limit",
       {"a", path("in"), out},
       "; ulimit -f 8",
       failure_err(choice_progress(chosen >> 5, chosen & 31), kWriteOut)},
      {"the automatic choice with no tables within the memory limit",
       {"a", path("in"), out},
       "; export MOLTAVEX_MEMLIMIT=3",
       failure_err("", kOutOfMemory)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_bytes(out, to_bytes("an earlier result"));
    RunOptions o;
    o.shell_setup = c.shell_setup;
    const RunResult r = run(c.args, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(visible(r.err), visible(c.expected_err));
    EXPECT_EQ(read_bytes(out), to_bytes("an earlier result"));
    EXPECT_EQ(temporary_files(), std::vector<std::string>{});
  }
  // Within the limit (suffixes K, M and G, or a plain count) jobs run.
  for (const char* limit : {"8388608", "8192K", "1G"}) {
    RunOptions o;
    o.shell_setup = std::string("; export MOLTAVEX_MEMLIMIT=") + limit;
    EXPECT_EQ(run({"d", path("in.mx"), out}, o).status, 0) << limit;
  }
  RunOptions bad;
  bad.shell_setup = "; export MOLTAVEX_MEMLIMIT=8X";
  const RunResult r = run({"d", path("in.mx"), path("other")}, bad);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(visible(r.err), visible(failure_err("", kBadMemoryLimit)));
  EXPECT_FALSE(exists_no_follow(path("other")));
}

TEST_F(Cli, ALinkAtTheOutputNameIsReplacedAndADeviceWrittenInPlace) {
  const Bytes data = sample_text(3000);
  write_bytes(path("in"), data);
  write_bytes(path("victim"), to_bytes("not to be written"));
  ASSERT_EQ(::symlink(path("victim").c_str(), path("link.mx").c_str()), 0);
  ASSERT_EQ(::symlink(path("nowhere").c_str(), path("dangling.mx").c_str()), 0);
  for (const char* name : {"link.mx", "dangling.mx"}) {
    ASSERT_EQ(run({"c1", "12", path("in"), path(name)}).status, 0) << name;
    EXPECT_TRUE(S_ISREG(status_of(path(name)).st_mode)) << name;
    ASSERT_EQ(run({"d", path(name), path("back")}).status, 0) << name;
    EXPECT_EQ(read_bytes(path("back")), data) << name;
  }
  EXPECT_EQ(read_bytes(path("victim")), to_bytes("not to be written"));
  EXPECT_FALSE(exists_no_follow(path("nowhere")));

  RunResult r = run({"c1", "12", path("in"), "/dev/null"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(visible(r.err), visible(encode_ok_err(1)));
  r = run({"d", path("link.mx"), "/dev/null"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(S_ISCHR(status_of("/dev/null").st_mode));
  EXPECT_EQ(temporary_files(), std::vector<std::string>{});
}

// A descriptor the program opens must not take the place of a closed
// standard one: console text would go into the output.
TEST_F(Cli, ClosedStandardDescriptorsNeverReceiveTheOutput) {
  const Bytes data = sample_text(3000);
  write_bytes(path("in"), data);
  for (const char* closed : {"<&- 2>&-", ">&- 2>&-", "<&- >&- 2>&-"}) {
    RunOptions o;
    o.exec_redirections = closed;
    EXPECT_EQ(run({"c1", "12", path("in"), path("in.mx")}, o).status, 0) << closed;
    EXPECT_EQ(run({"d", path("in.mx"), path("back")}, o).status, 0) << closed;
    EXPECT_EQ(read_bytes(path("back")), data) << closed;
  }
}

}  // namespace
}  // namespace mx::test
