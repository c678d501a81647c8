#pragma once

#include <cstdint>
#include <vector>

// Which unit numbers the open configuration documents use. There is one for
// the whole program (program()); tests may give each document their own.
// Index = unit number, 1 to 99; entry 0 is never used. An entry is 0 when
// free, 1 when taken, 2 + the holder's line when that is known.
class UnitRegistry {
public:
    static constexpr int kSize = 100;

    static UnitRegistry& program();

    // A document comes: the table gets its 100 free entries if it has not.
    void attach();
    // A document goes: the table is freed once no unit is in use any more.
    void detach();

    // Marks the lowest free number from 1 upward and returns it; 0 when all
    // of 1 to 99 are taken.
    int allocate();
    // True for a number from 1 to 99 that a document holds.
    bool inUse(int unit) const;
    // Marks `unit`; false (nothing marked) when it is outside 1 to 99 or taken.
    bool take(int unit);
    void release(int unit);
    // The line (0 to 3) of the document that holds `unit`, so that a
    // refused number can say where it is in use; -1 when not told.
    void setLine(int unit, int port);
    int lineOf(int unit) const;
    // No unit in use; for tests that share the program's registry.
    void clear();

private:
    static bool valid(int unit) { return unit >= 1 && unit < kSize; }
    void ensure();

    std::vector<std::uint8_t> used_;
};
