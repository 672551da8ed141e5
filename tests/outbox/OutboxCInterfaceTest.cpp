// The outbox through <orbisgrove/feedback.h>: store, deliver, list, refuse an
// unknown id, with the handles' ownership as a C host sees it.
#include <gtest/gtest.h>

#include <orbisgrove/feedback.h>

#include <cstring>
#include <string>

#include "../support/ScratchFiles.hpp"
#include "LocalHttpsService.hpp"

namespace orbisgrove::testing {
namespace {

orbisgrove_category* category(const char* json) {
  orbisgrove_category* made = nullptr;
  EXPECT_EQ(orbisgrove_category_decode(json, std::strlen(json), &made, nullptr), ORBISGROVE_OK);
  return made;
}

TEST(OutboxCInterfaceTest, StoresDeliversAndListsThroughC) {
  LocalHttpsService service;
  service.setDefaultReply(Reply::json(R"({"response":"201","data":{"id":"7","dataCount":1}})"));
  ASSERT_EQ(orbisgrove_set_data_directory(freshDirectory().c_str()), ORBISGROVE_OK);
  ASSERT_EQ(orbisgrove_add_trusted_certificates(service.caFile().c_str()), ORBISGROVE_OK);
  ASSERT_EQ(orbisgrove_set_service_host(service.hostAndPort().c_str()), ORBISGROVE_OK);
  int changes = 0;
  ASSERT_EQ(orbisgrove_outbox_set_change_callback(
                [](void* context, orbisgrove_outbox_entry* entry) {
                  if (orbisgrove_outbox_entry_state(entry) == ORBISGROVE_OUTBOX_DELIVERED)
                    ++*static_cast<int*>(context);
                },
                &changes),
            ORBISGROVE_OK);

  orbisgrove_category* parent = category(R"({"reportId":"1","reportName":"Road","parentId":"0"})");
  orbisgrove_category* child = category(R"({"reportId":"101","reportName":"Closed","parentId":"1"})");
  orbisgrove_options* options =
      orbisgrove_options_create_with_coordinate(orbisgrove_coordinate{52.5, 13.4}, parent, child, "c", nullptr);
  orbisgrove_outbox_entry* entry = nullptr;
  ASSERT_EQ(orbisgrove_outbox_enqueue(options, &entry, nullptr), ORBISGROVE_OK);
  ASSERT_NE(entry, nullptr);
  const std::string id = orbisgrove_outbox_entry_id(entry);
  orbisgrove_outbox_entry_release(entry);
  orbisgrove_options_release(options);
  orbisgrove_category_release(parent);
  orbisgrove_category_release(child);

  ASSERT_TRUE(orbisgrove_main_queue_run_until([](void* context) { return *static_cast<int*>(context) == 1 ? 1 : 0; },
                                              &changes, 10000));
  orbisgrove_outbox_entry_list* list = nullptr;
  ASSERT_EQ(orbisgrove_outbox_entries(&list, nullptr), ORBISGROVE_OK);
  ASSERT_EQ(orbisgrove_outbox_entry_list_count(list), 1U);
  const orbisgrove_outbox_entry* delivered = orbisgrove_outbox_entry_list_at(list, 0);
  EXPECT_EQ(id, orbisgrove_outbox_entry_id(delivered));
  EXPECT_EQ(orbisgrove_outbox_entry_attempts(delivered), 1);
  EXPECT_NE(orbisgrove_outbox_entry_record(delivered), nullptr);
  EXPECT_EQ(orbisgrove_outbox_entry_last_error(delivered), nullptr);
  orbisgrove_outbox_entry_list_release(list);

  orbisgrove_error* error = nullptr;
  EXPECT_EQ(orbisgrove_outbox_resend(id.c_str(), &error), ORBISGROVE_ERROR_FAILED) << "a delivered entry stays";
  EXPECT_NE(error, nullptr);
  orbisgrove_error_release(error);
  EXPECT_EQ(orbisgrove_outbox_discard("no such id", nullptr), ORBISGROVE_ERROR_FAILED);
  EXPECT_EQ(orbisgrove_outbox_discard(id.c_str(), nullptr), ORBISGROVE_OK);
  EXPECT_EQ(orbisgrove_outbox_set_change_callback(nullptr, nullptr), ORBISGROVE_OK);
}

}  // namespace
}  // namespace orbisgrove::testing
