#pragma once
// What the sample site's tests share: the exact search address the crawler
// sends, and a fixture that starts the site for each test.

#include "support/SampleSite.h"

#include <gtest/gtest.h>

#include <string>

inline const std::string kSearchPrefix =
    "/cannonball.ctl?Service=LODGEVISTAS&SearchPath=hots&old_cb=N&SEQ=4082317765219034458126&mode=1&airport=";
inline const std::string kSearchSuffix =
    "&state=&ckin_dt_mon=Sep&ckin_dt_dy=1&ckout_dt_mon=Sep&ckout_dt_dy=3&pax_cnt=1&mode=2";

inline std::string SearchPath(const std::string& code) { return kSearchPrefix + code + kSearchSuffix; }

class SampleSiteTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(site.started()) << "could not start " << HC_SAMPLE_SITE_EXE; }

    std::string fetchOk(const std::string& path)
    {
        std::string body;
        EXPECT_EQ(site.get(path, &body), 200) << path;
        return body;
    }

    SampleSite site;
};
