#include <gtest/gtest.h>

#include "platform/security_scope.h"
#include "support/temp_dir.h"

// Refusing a file and the policy are proven with the folder model.
TEST(SecurityScope, GrantsListableFoldersAndAStopGivesBackOneGrant) {
    TempDir dir;
    SecurityScope scope;
    EXPECT_TRUE(scope.startAccessing(dir.path()));
    EXPECT_FALSE(scope.startAccessing(dir / "missing"));
    // A stop without a grant is counted but gives back nothing.
    scope.stopAccessing(dir.path());
    scope.stopAccessing(dir.path());
    EXPECT_EQ(scope.stopCount(dir.path()), 2);
    EXPECT_EQ(scope.outstandingGrants(), 0);
}
