#pragma once
// The name of the front end the running program is ("tavrix-update", "tavrix-update-cli"): the
// record of every update names the program that ran it. Each front end sets it at start-up.

#include <string>

void SetFrontEndName(std::string name);
std::string FrontEndName();
