#pragma once

#include "core/estate/Tree.h"

#include <QString>

// strudex-export --recursive and --index-only: the command line's side of documenting a tree, its
// progress on the terminal and its messages.
namespace EstateCommand {

// Documents the tree and writes the index. 0 when every database was documented whole, 1 when any
// gave an error or could not be read whole (the index is written all the same).
int run(Estate::TreeRequest request);

// Rebuilds index.json and index.html from the JSON documents below the folder; the same exit
// status as run.
int indexOnly(const QString &output);

// The hidden worker mode the pool runs: jobs on standard input, outcomes on standard output.
int serve();

} // namespace EstateCommand
