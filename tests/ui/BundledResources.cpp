#include "TavrikLink/Support/TavrikResources.hpp"

#include <gtest/gtest.h>

namespace tavrik::test {
namespace {

// The widgets find their bundled symbols and pictures in the source tree's resources, as the
// program finds them beside itself.
class BundledResources : public ::testing::Environment {
public:
    void SetUp() override { TavrikResources::setResourceDirectoryOverride(QStringLiteral(TAVRIK_LINK_RESOURCES)); }
    void TearDown() override { TavrikResources::setResourceDirectoryOverride({}); }
};

[[maybe_unused]] ::testing::Environment* const bundledResources
    = ::testing::AddGlobalTestEnvironment(new BundledResources);

} // namespace
} // namespace tavrik::test
