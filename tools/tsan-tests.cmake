# The ThreadSanitizer build compiles only the test files that can run more
# than one thread. Each file named here starts none: no std::thread or
# std::async, no BurnSession, no dialog (dialog_rig.h), no SimPlatform with
# its service thread (SimRig and SimLink run without it), no query socket,
# console or hotplug watcher, and no tessell process. A new test file is under
# ThreadSanitizer unless it is added here.
set(TESSELL_SINGLE_THREAD_TESTS
    ac_power camera_flash camera_link command_line dfu_download discovery firmware_image
    flash_access flash_parts ic_type isp_download linux_usb_descriptors linux_uvc_control paths
    power_linux private_profile result_template serial_flash serial_number settings sim_bus
    sim_camera sim_flash_identity sim_flash_part sim_frame_source sim_station single_byte_text
    startup usb_identity usbcam utf16_text v4l2_frame_source xu_channel yuyv)

# A listed file that has come to name one of these may run threads: it stays in.
set(TESSELL_THREAD_MARKERS "std::(thread|jthread|async)|BurnSession|dialog_rig\\.h|process\\.h|\
TESSELL_BINARY|QuerySocket|query_socket|console_watch|udev_hotplug|hotplug_listeners|\
SimPlatform::open|fromStation")
foreach(name IN LISTS TESSELL_SINGLE_THREAD_TESTS)
    set(source "${CMAKE_CURRENT_SOURCE_DIR}/tests/${name}_test.cpp")
    if(NOT EXISTS "${source}")
        continue()
    endif()
    file(READ "${source}" text)
    if(text MATCHES "${TESSELL_THREAD_MARKERS}")
        message(WARNING "tests/${name}_test.cpp names ${CMAKE_MATCH_0}: it stays in the "
            "ThreadSanitizer build; take it off tools/tsan-tests.cmake")
    else()
        list(REMOVE_ITEM TESSELL_TEST_SOURCES "${source}")
    endif()
endforeach()
