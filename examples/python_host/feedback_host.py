#!/usr/bin/env python3
"""A minimal Python host of the feedback kit, through its C interface.

Only the standard library: ctypes loads the kit's shared library and calls
the functions that <orbisgrove/feedback.h> declares. Like the C example, this
host has no event loop of its own; it drains the kit's main queue until the
answer it expects has arrived, so every callback runs on this (main) thread.

    feedback_host.py path/to/libOrbisgroveFeedbackKit.so HOST[:PORT] CA_FILE

Fetches the report categories, submits one report in the first sub-category
and prints what came back. Exit status 0 on success.
"""
import ctypes
import sys
from ctypes import POINTER, c_char_p, c_double, c_int, c_int64, c_size_t, c_void_p

OK = 0  # ORBISGROVE_OK

# Handles are opaque: plain pointers on the Python side.
Handle = c_void_p
CategoriesCallback = ctypes.CFUNCTYPE(None, c_void_p, Handle, Handle)
SaveCallback = ctypes.CFUNCTYPE(None, c_void_p, Handle, Handle)
DonePredicate = ctypes.CFUNCTYPE(c_int, c_void_p)


def declare(kit):
    """Gives ctypes the signatures it cannot guess (64-bit pointers, doubles)."""
    signatures = {
        "orbisgrove_add_trusted_certificates": (c_int, [c_char_p]),
        "orbisgrove_set_service_host": (c_int, [c_char_p]),
        "orbisgrove_set_bundle_identifier": (c_int, [c_char_p]),
        "orbisgrove_get_report_categories": (c_int, [CategoriesCallback, c_void_p]),
        "orbisgrove_main_queue_run_until": (c_int, [DonePredicate, c_void_p, c_int64]),
        "orbisgrove_category_list_retain": (Handle, [Handle]),
        "orbisgrove_category_list_release": (None, [Handle]),
        "orbisgrove_category_list_count": (c_size_t, [Handle]),
        "orbisgrove_category_list_at": (Handle, [Handle, c_size_t]),
        "orbisgrove_category_report_id": (c_char_p, [Handle, POINTER(c_size_t)]),
        "orbisgrove_category_report_name": (c_char_p, [Handle, POINTER(c_size_t)]),
        "orbisgrove_category_parent_id": (c_char_p, [Handle, POINTER(c_size_t)]),
        "orbisgrove_options_create_with_location": (
            Handle, [c_double, c_double, Handle, Handle, c_char_p, c_char_p]),
        "orbisgrove_options_release": (None, [Handle]),
        "orbisgrove_save_user_data": (c_int, [Handle, Handle, SaveCallback, c_void_p, c_void_p]),
        "orbisgrove_user_data_retain": (Handle, [Handle]),
        "orbisgrove_user_data_release": (None, [Handle]),
        "orbisgrove_user_data_id": (c_char_p, [Handle, POINTER(c_size_t)]),
        "orbisgrove_user_data_name": (c_char_p, [Handle, POINTER(c_size_t)]),
        "orbisgrove_user_data_time": (c_char_p, [Handle, POINTER(c_size_t)]),
        "orbisgrove_user_data_url": (c_char_p, [Handle, POINTER(c_size_t)]),
        "orbisgrove_user_data_list_id": (c_int, [Handle, POINTER(c_int64)]),
        "orbisgrove_user_data_data_count": (c_int, [Handle, POINTER(c_int64)]),
        "orbisgrove_user_data_exist": (c_int, [Handle, POINTER(c_int64)]),
        "orbisgrove_error_retain": (Handle, [Handle]),
        "orbisgrove_error_release": (None, [Handle]),
        "orbisgrove_error_description": (c_char_p, [Handle]),
    }
    for name, (result, arguments) in signatures.items():
        function = getattr(kit, name)
        function.restype = result
        function.argtypes = arguments


def text(value):
    """A returned C string: bytes, or None for an absent field."""
    return "(none)" if value is None else '"' + value.decode("utf-8", "replace") + '"'


def wait_for(kit, outcome):
    """Runs the kit's completions on this thread until `outcome` is filled in."""
    done = DonePredicate(lambda _context: 1 if outcome else 0)
    return kit.orbisgrove_main_queue_run_until(done, None, 120_000)


def main(argv):
    if len(argv) != 4:
        print(f"usage: {argv[0]} LIBRARY HOST[:PORT] CA_FILE", file=sys.stderr)
        return 2
    library, host, ca_file = argv[1:]
    kit = ctypes.CDLL(library)
    declare(kit)

    # Settings first; strings are copied by the kit.
    if (kit.orbisgrove_add_trusted_certificates(ca_file.encode()) != OK
            or kit.orbisgrove_set_service_host(host.encode()) != OK
            or kit.orbisgrove_set_bundle_identifier(b"org.example.python-host") != OK):
        print("unusable host or CA file", file=sys.stderr)
        return 2

    # Handles reach a callback only for the call: retain what we keep.
    answer = {}

    @CategoriesCallback
    def on_categories(_context, categories, error):
        answer["categories"] = kit.orbisgrove_category_list_retain(categories)
        answer["error"] = kit.orbisgrove_error_retain(error)

    # The callback object must stay alive until it has run: it is held by
    # this frame, which outlives the wait below.
    if kit.orbisgrove_get_report_categories(on_categories, None) != OK or not wait_for(kit, answer):
        print("no answer", file=sys.stderr)
        return 1
    if answer["error"]:
        print("failed:", kit.orbisgrove_error_description(answer["error"]).decode())
        kit.orbisgrove_error_release(answer["error"])
        return 1
    categories = answer["categories"]
    if not categories:
        print("the service sent no list")
        return 1

    # Two levels: top-level categories have parentId "0".
    count = kit.orbisgrove_category_list_count(categories)
    print(f"got {count} categories")
    parent = child = None
    for index in range(count):
        category = kit.orbisgrove_category_list_at(categories, index)
        parent_id = kit.orbisgrove_category_parent_id(category, None)
        if parent is None and parent_id == b"0":
            parent = category
        elif parent is not None and child is None and \
                parent_id == kit.orbisgrove_category_report_id(parent, None):
            child = category
    if parent is None or child is None:
        print("no category with a sub-category")
        kit.orbisgrove_category_list_release(categories)
        return 1
    print("reporting under", text(kit.orbisgrove_category_report_name(parent, None)), "/",
          text(kit.orbisgrove_category_report_name(child, None)))

    # The options retain both records, so the list may go now.
    options = kit.orbisgrove_options_create_with_location(
        52.5163, 13.3777, parent, child, "Barrier across the road since Monday (Python example)".encode(),
        b"python-example")
    kit.orbisgrove_category_list_release(categories)
    if not options:
        return 1

    saved = {}

    @SaveCallback
    def on_saved(_context, record, error):
        saved["record"] = kit.orbisgrove_user_data_retain(record)
        saved["error"] = kit.orbisgrove_error_retain(error)

    # None for the client: the shared one; None for the task: not kept.
    status = kit.orbisgrove_save_user_data(None, options, on_saved, None, None)
    kit.orbisgrove_options_release(options)  # read before the call returned
    if status != OK or not wait_for(kit, saved):
        print("no answer", file=sys.stderr)
        return 1
    if saved["error"]:
        print("failed:", kit.orbisgrove_error_description(saved["error"]).decode())
        kit.orbisgrove_error_release(saved["error"])
        return 1
    record = saved["record"]
    if not record:
        print("saved; the service sent no record")
        return 0
    number = c_int64()

    def integer(getter):
        return str(number.value) if getter(record, ctypes.byref(number)) else "(none)"

    print("saved report",
          "id=" + text(kit.orbisgrove_user_data_id(record, None)),
          "name=" + text(kit.orbisgrove_user_data_name(record, None)),
          "listId=" + integer(kit.orbisgrove_user_data_list_id),
          "dataCount=" + integer(kit.orbisgrove_user_data_data_count),
          "exist=" + integer(kit.orbisgrove_user_data_exist),
          "time=" + text(kit.orbisgrove_user_data_time(record, None)),
          "url=" + text(kit.orbisgrove_user_data_url(record, None)))
    kit.orbisgrove_user_data_release(record)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
