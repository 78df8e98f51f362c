#pragma once

// What nearly every test uses: GoogleTest, the standard containers and helpers, a list of texts.
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

using Texts = std::vector<std::string>;
