// Capturing what a body raises, for tests of failure paths: a body that
// raises nothing fails the test, so a test of an error can never pass by the
// error going missing.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/msgvec.h"

namespace cdm_test {

// What the MSGVEC record raised by `body` prints; "(nothing raised)" and a
// test failure when it raises nothing.
template <typename Body>
std::string raised_text(Body body) {
  try {
    body();
  } catch (const MSGVEC& record) {
    return message_vector_text(record);
  }
  ADD_FAILURE() << "nothing raised";
  return "(nothing raised)";
}

// What the exception of type Error thrown by `body` says (its what()); a test
// failure and "(nothing thrown)" when it throws none.
template <typename Error, typename Body>
std::string thrown_text(Body body) {
  try {
    body();
  } catch (const Error& error) {
    return error.what();
  }
  ADD_FAILURE() << "nothing thrown";
  return "(nothing thrown)";
}

}  // namespace cdm_test
