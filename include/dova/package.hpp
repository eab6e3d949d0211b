#pragma once

// Everything of the dova_package library: records, validation, package and report files, tile
// images, cycle profile reports and structured logging.

#include "dova/package/constants.hpp"
#include "dova/package/error.hpp"
#include "dova/package/log.hpp"
#include "dova/package/profile.hpp"
#include "dova/package/records.hpp"
#include "dova/package/step.hpp"
#include "dova/package/version.hpp"
