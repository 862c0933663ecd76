// SPDX-License-Identifier: MIT
// Host stand-in for the single-instance mutexes (ui/instance.h): one machine's kernel objects,
// named as Windows resolves names for a process in a given session, each with its owner. A
// process that makes one keeps it until FakeInstanceReset.
#pragma once

#include <map>
#include <string>

struct FakeInstance {
    // The process asking: its session, and its account ("SYSTEM", "Administrators" for an elevated
    // administrator, any other name a standard user).
    unsigned session = 1;
    std::string account = "Administrators";
    int privateNamespaces = 1;  // 0: Windows before Vista
    // Every object by the name the object manager gives it, with its owner.
    std::map<std::string, std::string> objects;
};

FakeInstance& FakeInstanceState();
void FakeInstanceReset();
// The object name `name` resolves to for the process FakeInstanceState describes.
std::string FakeResolveName(const std::string& name, int privateNamespace);
