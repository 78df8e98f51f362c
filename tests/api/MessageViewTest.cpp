#include <gtest/gtest.h>

#include "MessageView.h"

namespace {

TEST(MessageView, PointsContentIdsAtPartsAndLinksAtNewPages)
{
    const struct {
        std::string html, document;
    } cases[] = {
        {R"(<img src="cid:logo@x">)", R"(<base target="_blank"><img src="/part/logo@x">)"},
        {R"(<IMG SRC='CID:logo%40x'>)", R"(<base target="_blank"><IMG SRC='/part/logo@x'>)"},
        {"<td style=\"background:url(cid:logo@x)\">",
         "<base target=\"_blank\"><td style=\"background:url(/part/logo@x)\">"},
        {"<img src=cid:logo@x>", "<base target=\"_blank\"><img src=/part/logo@x>"},
        {R"(<img src="cid:other">)", R"(<base target="_blank"><img src="cid:other">)"},
        {"cid:", "<base target=\"_blank\">cid:"},
        // The doctype stays first, or the page would be laid out in quirks mode.
        {"\r\n <!DOCTYPE html><p>Hi</p>", "\r\n <!DOCTYPE html><base target=\"_blank\"><p>Hi</p>"},
        {"<!doctype", "<base target=\"_blank\"><!doctype"},
    };
    const auto partUrl
        = [](const std::string& contentId) { return contentId == "logo@x" ? "/part/" + contentId : std::string(); };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.html);
        EXPECT_EQ(MessageView::htmlDocument(c.html, partUrl), c.document);
    }
}

} // namespace
