// The reliability campaign's run: how much each area tries (a few seconds' worth for CI,
// the full figures with --full) and the table of what each area tried and what held.
#pragma once
#include <cstddef>
#include <string>

namespace campaign
{
// nShort cases in the short run, nFull in the full one (--full).
size_t Scale(size_t nShort, size_t nFull);
// The seed of every generator: fixed, or --seed=N.
unsigned Seed();

// The failures the running test has reported so far: a try held when this did not grow.
size_t FailuresSoFar();

// One line of the final table: what an area tried and how many of the tries held. A try
// that did not hold also fails its test with the details.
void Report(const std::string& area, size_t nTried, size_t nHeld, const std::string& note = std::string());
}
