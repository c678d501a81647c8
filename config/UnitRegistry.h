#pragma once

#include <cstdint>
#include <vector>

// Which unit numbers the open configuration documents use. There is one for
// the whole program (program()); tests may give each document their own.
// Index = unit number, 1 to 99; entry 0 is never used.
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
    // No unit in use; for tests that share the program's registry.
    void clear();

private:
    static bool valid(int unit) { return unit >= 1 && unit < kSize; }
    void ensure();

    std::vector<std::uint8_t> used_;
};
