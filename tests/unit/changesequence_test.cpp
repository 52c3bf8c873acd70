// The change numbering behind update.cgi?since=: which tokens are taken and
// what a point selects.
#include "apps/web/service/changesequence.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

TEST(ChangeSequence, TokensOfThisRunStandForTheirPoint) {
    ChangeSequence changes("1f2e");
    std::string start = changes.token();
    changes.record(7);
    changes.record(9);
    EXPECT_EQ(changes.pointOf(start), 0u);
    EXPECT_EQ(changes.pointOf(changes.token()), 2u);
    std::string token = ChangeSequence().token();
    EXPECT_LE(token.size(), 64u);
    EXPECT_TRUE(std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c <= '~'; })) << token;
}

TEST(ChangeSequence, AnyOtherTokenIsNotTaken) {
    ChangeSequence changes("1f2e");
    changes.record(7);
    for (const char* token : {"", "1f2e", "1f2e-", "1f2e-+1", "1f2e--1", "1f2e-1x", "1f2e- 1", "1f2f-1", "ab1f2e-1",
                              "1f2e-2", "1f2e-99999999999999999999999"})
        EXPECT_FALSE(changes.pointOf(token).has_value()) << token;
    // A restarted service draws another nonce: the same point is another token.
    ChangeSequence before, restarted;
    EXPECT_FALSE(restarted.pointOf(before.token()).has_value());
}

TEST(ChangeSequence, APointSelectsTheVariablesWhoseLastChangeCameAfterIt) {
    ChangeSequence changes("n");
    changes.record(10);
    changes.record(20);
    ChangeSequence::Point middle = changes.current();
    EXPECT_FALSE(changes.changedSince(middle));
    changes.record(10);  // changed again: now after the point
    changes.record(30);
    EXPECT_TRUE(changes.changedSince(middle));
    ChangeSequence::Selection selected = changes.changedAfter(middle);
    EXPECT_EQ(selected.count(), 2u);
    EXPECT_TRUE(selected.test(10) && selected.test(30));
    EXPECT_EQ(changes.changedAfter(0).count(), 3u);
    EXPECT_TRUE(changes.changedAfter(changes.current()).none());
}
