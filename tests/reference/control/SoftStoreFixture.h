#pragma once
// A fresh control over a software store holding the RSA, EC and SM2 test
// identities under one password, with the test CAs trusted and a fake
// pinentry that answers with that password.

#include <gtest/gtest.h>

#include <memory>

#include "control/ControlHarness.h"

class SoftStoreFixture : public ::testing::Test {
  protected:
    static constexpr const char* kPassword = "store pass %1";

    void SetUp() override {
        scope = std::make_unique<ControlScope>(false);
        scope->AddToStore(pki().rsa, kPassword);
        scope->AddToStore(pki().ec, kPassword);
        scope->AddToStore(pki().sm2, kPassword);
        scope->TrustTestCas();
        scope->pinentry().Set(FakePinentry::Action::kPin, kPassword);
    }
    static const TestPki& pki() { return TestPki::Shared(); }
    int Prompts() { return scope->pinentry().PinPrompts(); }

    std::unique_ptr<ControlScope> scope;
};
