// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/instance_fake.h"
#include "ui/dialog_logic.h"
#include "ui/instance.h"

namespace {

struct Process {
    unsigned session;
    const char* account;
};

// Earlier copies (still running), objects a standard user made, then the copy asked about.
struct InstanceRow {
    const char* name;
    int privateNamespaces;
    std::vector<Process> running;
    std::vector<std::string> planted;  // names a standard user in session 1 made
    Process subject;
    int mayRun;
};

int RunCopy(const Process& process, const char* productName) {
    FakeInstanceState().session = process.session;
    FakeInstanceState().account = process.account;
    return DecideSingleInstance(productName);
}

TEST(SingleInstance, SessionsAndPlantedObjectsAsWindowsResolvesNames) {
    char product[INSTANCE_NAME_SIZE];
    ProductInstanceName("Shiosai Notes", "HKEY_LOCAL_MACHINE\\Software\\Shiosai", product);
    char otherProduct[INSTANCE_NAME_SIZE];
    ProductInstanceName("Other Tool", "HKEY_LOCAL_MACHINE\\Software\\Other", otherProduct);
    const std::string design = SINGLE_INSTANCE_NAME;
    const std::vector<InstanceRow> rows = {
        {"an agent's run in session 0, alone", 1, {}, {}, {0, "SYSTEM"}, 1},
        {"XP's console user, session 0, alone", 0, {}, {}, {0, "Administrators"}, 1},
        {"a user's run, alone", 1, {}, {}, {1, "Administrators"}, 1},
        {"a second copy in the same session",
         1,
         {{1, "Administrators"}},
         {},
         {1, "Administrators"},
         0},
        {"a second agent's run in session 0", 1, {{0, "SYSTEM"}}, {}, {0, "SYSTEM"}, 0},
        {"an agent's run while a user's copy runs",
         1,
         {{2, "Administrators"}},
         {},
         {0, "SYSTEM"},
         0},
        {"XP: a user's run while an agent's runs",
         0,
         {{0, "SYSTEM"}},
         {},
         {1, "Administrators"},
         0},
        {"a standard user's objects of both names",
         1,
         {},
         {"Global\\" + design, "Global\\" + std::string(product), design},
         {0, "SYSTEM"},
         1},
        {"XP: a standard user's objects of both names",
         0,
         {},
         {"Global\\" + design, "Global\\" + std::string(product)},
         {0, "SYSTEM"},
         1},
    };
    for (const InstanceRow& row : rows) {
        FakeInstanceReset();
        FakeInstanceState().privateNamespaces = row.privateNamespaces;
        for (const std::string& name : row.planted) {
            FakeInstanceState().session = 1;
            FakeInstanceState().objects[FakeResolveName(name, 0)] = "user";
        }
        for (const Process& process : row.running)
            EXPECT_EQ(1, RunCopy(process, product)) << row.name << ": an earlier copy";
        EXPECT_EQ(row.mayRun, RunCopy(row.subject, product)) << row.name;
    }

    // Another product's patch, left open in another session, blocks nobody else's.
    FakeInstanceReset();
    EXPECT_EQ(1, RunCopy({2, "Administrators"}, otherProduct));
    EXPECT_EQ(1, RunCopy({0, "SYSTEM"}, product));
}

}  // namespace
