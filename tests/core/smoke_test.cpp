#include <gtest/gtest.h>
#include "core/custom_data.h"
TEST(Smoke, Builds) { KX::CRefPtr<KX::CRawData> r(new KX::CRawData); EXPECT_EQ(r->refCount, 1); }
