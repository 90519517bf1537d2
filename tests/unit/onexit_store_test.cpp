// At-exit actions that modules leave with the process.
#include <gtest/gtest.h>

#include <string>

#include "veltro_sfx_lib/run/onexit_store.hpp"

using namespace qzr::sfx;

namespace {

std::string trail;
onexit_store* store = nullptr;
const int module_a = 0, module_b = 0;

void a1() { trail += "a1 "; }
void a2() { trail += "a2 "; }
void b1() { trail += "b1 "; }
// An action that registers another for its own module, and one that unloads
// another module: neither may deadlock, and what they add still runs.
void a_adds() {
    trail += "a_adds ";
    store->add(&module_a, &a1);
}
void b_unloads_a() {
    trail += "b_unloads_a ";
    store->run_module(&module_a);
}

class OnExitStore : public ::testing::Test {
protected:
    onexit_store s;
    void SetUp() override {
        trail.clear();
        store = &s;
    }
};

}  // namespace

TEST_F(OnExitStore, ActionsRunPerModuleLatestFirstThenTheRestAtExit) {
    const onexit_cookie* c = s.add(&module_a, &a1);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->module, &module_a);
    EXPECT_EQ(c->action, &a1);
    s.add(&module_b, &b1);
    s.add(&module_a, &a2);
    EXPECT_EQ(s.add(&module_a, nullptr), nullptr);
    EXPECT_EQ(s.size(), 3u);

    EXPECT_EQ(s.run_module(&module_a), 2u);
    EXPECT_EQ(trail, "a2 a1 ");
    EXPECT_EQ(s.run_module(&module_a), 0u) << "an action runs once";
    EXPECT_EQ(s.size(), 1u);

    s.add(&module_a, &a1);
    trail.clear();
    EXPECT_EQ(s.run_all(), 2u);
    EXPECT_EQ(trail, "a1 b1 ");
    EXPECT_EQ(s.size(), 0u);
}

TEST_F(OnExitStore, ActionsMayRegisterAndUnloadWhileRunning) {
    s.add(&module_a, &a_adds);
    EXPECT_EQ(s.run_module(&module_a), 2u);
    EXPECT_EQ(trail, "a_adds a1 ");

    trail.clear();
    s.add(&module_a, &a2);
    s.add(&module_b, &b_unloads_a);
    EXPECT_EQ(s.run_all(), 1u) << "a2 ran inside b_unloads_a, not again";
    EXPECT_EQ(trail, "b_unloads_a a2 ");
    EXPECT_EQ(s.size(), 0u);
}
