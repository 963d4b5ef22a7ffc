#pragma once
// The subcommands of tavrona-cards. Adding one is adding a row to the table in commands.cpp.

#include <QStringList>

#include <vector>

namespace cli {

struct Command {
    const char* name;
    const char* usage;  // the arguments, as the help text shows them
    const char* summary;
    int (*run)(const QStringList& arguments);  // what follows the command's name
};

const std::vector<Command>& commands();

// The whole program: picks the command and runs it. Exit status 0 done, 1 failed, 2 wrong use.
int main(const QStringList& arguments);

// Lines for the user, UTF-8 on standard output; errors on standard error.
void say(const QString& line);
void complain(const QString& line);

}  // namespace cli
