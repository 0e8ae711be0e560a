# The ThreadSanitizer build compiles only the test files that can run more
# than one thread. Each file named here starts none: no std::thread or
# std::async, no BurnSession, no dialog (dialog_rig.h), no SimPlatform with
# its service thread (SimRig and SimLink run without it), no query socket,
# console or hotplug watcher, and no tessell process. A file that starts to do
# any of that leaves this list; a new test file is under ThreadSanitizer
# unless it is added here.
set(TESSELL_SINGLE_THREAD_TESTS
    ac_power camera_flash camera_link command_line dfu_download discovery firmware_image
    flash_access flash_parts ic_type isp_download linux_usb_descriptors linux_uvc_control paths
    power_linux private_profile result_template serial_flash serial_number settings sim_bus
    sim_camera sim_flash_identity sim_flash_part sim_frame_source sim_station single_byte_text
    startup usb_identity usbcam utf16_text v4l2_frame_source xu_channel yuyv)
list(JOIN TESSELL_SINGLE_THREAD_TESTS "|" TESSELL_SINGLE_THREAD_REGEX)
list(FILTER TESSELL_TEST_SOURCES EXCLUDE REGEX "/tests/(${TESSELL_SINGLE_THREAD_REGEX})_test\\.cpp$")
