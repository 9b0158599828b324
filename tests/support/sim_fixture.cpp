#include "tests/support/sim_fixture.h"

#include "tests/support/scratch_dir.h"

void SimFixture::SetUp()
{
    dir = scratch_dir_new();
    config_home = scratch_dir_new();
    ASSERT_FALSE(dir.empty());
    ASSERT_FALSE(config_home.empty());
}

void SimFixture::TearDown()
{
    sim_stop(&sim);
    for (const std::string &d : {dir, config_home})
        if (!d.empty())
            scratch_dir_remove(d);
}

void SimFixture::start_sim(const std::vector<std::string> &args)
{
    ASSERT_TRUE(sim_start(&sim, args)) << "the simulator did not start";
}

std::string SimFixture::make_disk(const std::string &name, const std::string &diskname,
                                  const std::string &id, const std::vector<cc1541_file> &files,
                                  size_t size)
{
    std::string path = dir + "/" + name;
    EXPECT_TRUE(cc1541_build_d64(path, diskname, id, files));
    std::string bytes = scratch_read(path);
    if (bytes.size() < size) {
        bytes.resize(size, '\0');
        EXPECT_TRUE(scratch_write(path, bytes));
    }
    return bytes;
}
