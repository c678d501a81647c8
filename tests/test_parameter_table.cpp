#include "link/ParameterTable.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Expected {
    int id;
    float scale;
    int decimals;
    int minimum, maximum;
};

// Scale, decimals and range of every row as the field users see it.
const Expected kTable[] = {
    {0, 1, 0, 1, 99},          {1, 10, 2, -1999, 1999},   {2, 100, 2, 0, 500},       {3, 100, 2, -500, 0},
    {4, 10, 1, -1999, 1999},   {5, 10, 1, -1999, 1999},   {6, 1, 0, 1, 100},         {7, 1, 0, 0, 91},
    {8, 1, 0, 0, 10},          {9, 10, 3, -1999, 1999},   {10, 10, 3, 0, 4999},      {11, 10, 3, -1999, 1999},
    {12, 10, 3, 0, 4999},      {13, 10, 3, -1999, 1999},  {14, 10, 3, 0, 4999},      {15, 10, 3, -1999, 1999},
    {16, 10, 3, 0, 4999},      {17, 10, 3, -1999, 1999},  {18, 10, 3, 0, 4999},      {19, 1000, 3, 100, 9999},
    {20, 100, 2, -999, 999},   {21, 100, 2, 100, 2000},   {22, 100, 2, -999, 999},   {23, 100, 2, 100, 2000},
    {24, 100, 2, -999, 999},   {25, 1000, 3, -1000, 1000}, {26, 1000, 3, -1000, 1000}, {27, 1000, 3, -1000, 1000},
    {28, 1000, 3, -1000, 1000}, {29, 1000, 3, -1000, 1000}, {30, 1000, 3, -1000, 1000}, {31, 1000, 3, -1000, 1000},
    {32, 1000, 3, -1000, 1000}, {33, 1000, 3, 9000, 11000}, {34, 100, 2, 9000, 11000}, {35, 1000, 3, 900, 1100},
    {36, 1000, 3, 9000, 11000}, {37, 10, 3, 0, 32767},     {38, 10, 3, -1999, 1999},  {39, 100, 2, -599, 599},
    {40, 10, 1, -149, 149},    {41, 10, 3, -1999, 1999},  {42, 10, 3, 0, 4999},      {43, 10, 3, 1, 4999},
    {44, 1000, 3, 800, 1200},  {45, 1000, 3, 800, 1200},  {46, 1000, 3, 800, 1200},  {47, 1000, 3, 800, 1200},
    {48, 1000, 3, 800, 1200},  {49, 1000, 3, 800, 1200},  {50, 1000, 3, 800, 1200},  {51, 1000, 3, 800, 1200},
    {52, 1000, 3, 9000, 11000}, {53, 10, 1, 0, 100},       {54, 1000, 3, 0, 5000},    {55, 1000, 3, 0, 5000},
    {56, 1000, 3, -6000, 6000}, {57, 1000, 3, -15000, 15000}, {58, 10, 3, -1999, 1999}, {59, 1000, 3, -1000, 1000},
    {60, 1000, 3, 800, 1200},  {61, 1, 0, -999, 999},
};

// Each row's scale, decimals and range, and its range ends converting back
// to values exactly.
TEST(ParameterTable, EveryRowHasItsScaleDecimalsAndRange)
{
    ASSERT_EQ(sizeof kTable / sizeof kTable[0], static_cast<std::size_t>(ParameterTable::kRowCount));
    for (const Expected& e : kTable) {
        SCOPED_TRACE("row " + std::to_string(e.id));
        const auto id = static_cast<std::uint8_t>(e.id);
        EXPECT_EQ(ParameterTable::scale(id), e.scale);
        EXPECT_EQ(ParameterTable::decimals(id), e.decimals);
        EXPECT_EQ(ParameterTable::minimum(id), e.minimum);
        EXPECT_EQ(ParameterTable::maximum(id), e.maximum);
        EXPECT_EQ(ParameterTable::positionToValue(id, e.minimum), static_cast<float>(e.minimum / e.scale));
        EXPECT_EQ(ParameterTable::positionToValue(id, e.maximum), static_cast<float>(e.maximum / e.scale));
    }
    EXPECT_FLOAT_EQ(ParameterTable::positionToValue(1, 1999), 199.9f);
    EXPECT_FLOAT_EQ(ParameterTable::positionToValue(43, 1), 0.1f);
}

TEST(ParameterTable, ValueToPositionRoundsHalfAwayFromZero)
{
    EXPECT_EQ(ParameterTable::valueToPosition(1, 25.04f), 250);
    EXPECT_EQ(ParameterTable::valueToPosition(1, -25.06f), -251);
    EXPECT_EQ(ParameterTable::valueToPosition(1, 0.0f), 0);
    EXPECT_EQ(ParameterTable::valueToPosition(1, -0.04f), 0);
    EXPECT_EQ(ParameterTable::valueToPosition(1, -0.05f), -1);
    EXPECT_EQ(ParameterTable::valueToPosition(19, 2.5f), 2500);
    EXPECT_EQ(ParameterTable::valueToPosition(19, -0.0005f), -1);
    EXPECT_EQ(ParameterTable::valueToPosition(0, 7.5f), 8);
    EXPECT_EQ(ParameterTable::valueToPosition(0, -7.5f), -8);
}

TEST(ParameterTable, FormatsWithTheRowsDecimalsInEightColumns)
{
    EXPECT_EQ(ParameterTable::format(1, 25.0f), "   25.00");
    EXPECT_EQ(ParameterTable::format(0, 25.0f), "      25");
    EXPECT_EQ(ParameterTable::format(39, -1.234f), "   -1.23");
    EXPECT_EQ(ParameterTable::format(9, 999.999f), " 999.999");
    EXPECT_EQ(ParameterTable::format(9, 12345.678f), "12345.678");
}

} // namespace
