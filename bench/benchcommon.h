#pragma once
// Shared pieces of the benchmarks: a card database filled with realistic cards, the same search
// fetched with the bare database client as a baseline, timing and heap figures.

#include <QString>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// Creates dir/data/DATA.FDB with the creation tool and fills it with `count` live cards with
// Japanese names, organisations and memos. Returns the database path.
QString makeCardDatabase(const QString& dir, int count);

// The name search with an empty keyword, fetched with the bare client into one std::string per
// cell, all rows kept. Returns the UTF-8 bytes of the rows' text.
std::size_t bareNameSearch(const QString& databasePath, std::vector<std::string>& cells);

// The same search through the bare client, touching only each row's message buffer (the length
// of every cell): the floor under any program's fetch of these rows. Returns the rows' text bytes.
std::size_t bareTouchFetch(const QString& databasePath);

// The exponent b of the power law time = a * size^b fitted to the points (least squares of the
// logarithms): 1 for a time that grows linearly.
double powerFitExponent(const std::vector<double>& sizes, const std::vector<double>& times);

// Attaches to the database with the bare client as the program does, then detaches.
void bareAttach(const QString& databasePath);

// The middle one of a run's times.
double median(std::vector<double> times);

// Median wall time of `runs` calls, in milliseconds.
double medianMs(int runs, const std::function<void()>& work);

// The median time of each work, in milliseconds, over `rounds` rounds that call each work once in
// turn, so that a busy moment of the machine weighs on all of them alike.
std::vector<double> interleavedMediansMs(int rounds, const std::vector<std::function<void()>>& works);

// Bytes in use on the heap (small blocks and mapped blocks alike).
std::size_t heapInUse();

// "NAME: ratio R (goal <= G) details"
void report(const char* name, double ratio, double goal, const QString& details);

}  // namespace bench
