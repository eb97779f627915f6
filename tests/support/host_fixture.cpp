#include "host_fixture.hpp"

#include <ftw.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace kxsim_test {

namespace {

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
    return ::remove(path);
}

}  // namespace

std::string make_temp_dir(const char *prefix) {
    const char *tmpdir = std::getenv("TMPDIR");
    std::string templ = std::string(tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp") + "/" +
                        prefix + "-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) {
        ADD_FAILURE() << "cannot create a temporary folder from " << templ;
        return std::string();
    }
    return buf.data();
}

void HostFixture::SetUp() {
    root_ = make_temp_dir("kxmc-host");
    kxsim::set_config_root(root_);
    kxsim::startup(model_code());
}

void HostFixture::TearDown() {
    if (!root_.empty() && std::getenv("KXMC_KEEP_TEST_FILES") == nullptr) {
        ::nftw(root_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
    }
}

void HostFixture::restart(uint32_t model) { kxsim::startup(model); }

}  // namespace kxsim_test
