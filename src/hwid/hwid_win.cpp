// Asking the disk and the firmware for their serial numbers. Nothing here
// decides: each query hands its bytes to the pure half, and a query that
// fails only leaves its own input empty.
#include "hwid/hwid_win.hpp"

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "environment/os_info.hpp"
#include "framework/hex.hpp"
#include "framework/text_format.hpp"
#include "win/handle.hpp"

namespace qzr::hwid {

namespace {

// Platform constants the user-mode headers do not carry.
constexpr DWORD ioctl_scsi_miniport_identify = 0x001B0501;  // (FILE_DEVICE_SCSI << 16) + 0x0501
constexpr DWORD rsmb_provider = 0x52534D42;                  // 'RSMB'
constexpr BYTE ata_identify = 0xEC;                          // IDENTIFY DEVICE
constexpr BYTE atapi_identify = 0xA1;                        // IDENTIFY PACKET DEVICE
constexpr DWORD identify_size = 512;
constexpr DWORD storage_descriptor_buffer = 4096;
constexpr ULONG miniport_timeout_seconds = 10;

// The request and answer blocks without their one-byte placeholder arrays.
constexpr DWORD send_cmd_in_size = sizeof(SENDCMDINPARAMS) - 1;
constexpr DWORD send_cmd_out_header = offsetof(SENDCMDOUTPARAMS, bBuffer);
static_assert(send_cmd_in_size == 32 && send_cmd_out_header == 16, "the SMART blocks are packed");
static_assert(sizeof(SRB_IO_CONTROL) == 28, "the miniport header layout is fixed");

win::file_handle open_device(const std::wstring& path, DWORD access) {
    return win::file_handle(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
}

std::wstring physical_drive_path(std::uint32_t disk) { return L"\\\\.\\PhysicalDrive" + text::decimal(disk); }

// A control request whose answer is at most out_size bytes; the byte count
// returned, or nothing when the device refused.
std::optional<DWORD> control(const win::file_handle& device, DWORD code, const void* in, DWORD in_size, void* out,
                             DWORD out_size) {
    DWORD got = 0;
    if (!::DeviceIoControl(device.get(), code, const_cast<void*>(in), in_size, out, out_size, &got, nullptr))
        return std::nullopt;
    return got;
}

// The identify data in a SMART answer that filled got bytes of answer;
// empty when the driver reported an error.
std::string serial_of_smart_answer(const std::uint8_t* answer, DWORD got) {
    if (got < send_cmd_out_header) return {};
    SENDCMDOUTPARAMS head;
    std::memcpy(&head, answer, send_cmd_out_header);
    if (head.DriverStatus.bDriverError != 0) return {};
    const DWORD data = std::min(got - send_cmd_out_header, identify_size);
    return identify_serial(byte_view(answer + send_cmd_out_header, data));
}

bool windows_8_or_later() {
    try {
        const auto& os = environment::os_info();
        return os.major > 6 || (os.major == 6 && os.minor >= 2);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        // No version to go by: the older form, whose decoder passes text
        // that is not hex through unchanged.
        return false;
    }
}

// --- the four serial methods -------------------------------------------------

std::string storage_property_method(std::uint32_t disk) {
    const auto device = open_device(physical_drive_path(disk), 0);
    if (!device) return {};
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    std::vector<std::uint8_t> descriptor(storage_descriptor_buffer);
    const auto got = control(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, descriptor.data(),
                             storage_descriptor_buffer);
    if (!got) return {};
    return storage_property_serial(byte_view(descriptor.data(), *got), !windows_8_or_later());
}

// SMART identify as a drive on an IDE channel is addressed: by its number,
// master or slave by the low bit, with the command the version data ask for.
std::string smart_identify_method(std::uint32_t disk) {
    const auto device = open_device(physical_drive_path(disk), GENERIC_READ | GENERIC_WRITE);
    if (!device) return {};
    GETVERSIONINPARAMS version{};
    if (!control(device, SMART_GET_VERSION, nullptr, 0, &version, sizeof version)) return {};
    // The device map holds one bit per channel position for ATA devices in
    // its low half and the same positions for ATAPI devices in its high half.
    const bool atapi = ((version.bIDEDeviceMap >> (disk & 3)) & 0x10) != 0;

    SENDCMDINPARAMS in{};
    in.cBufferSize = identify_size;
    in.irDriveRegs.bSectorCountReg = 1;
    in.irDriveRegs.bSectorNumberReg = 1;
    in.irDriveRegs.bDriveHeadReg = static_cast<BYTE>(0xA0 | ((disk & 1) << 4));
    in.irDriveRegs.bCommandReg = atapi ? atapi_identify : ata_identify;
    in.bDriveNumber = static_cast<BYTE>(disk);
    std::vector<std::uint8_t> out(send_cmd_out_header + identify_size);
    const auto got = control(device, SMART_RCV_DRIVE_DATA, &in, send_cmd_in_size, out.data(),
                             static_cast<DWORD>(out.size()));
    if (!got) return {};
    return serial_of_smart_answer(out.data(), *got);
}

// The second form leaves the addressing to the disk driver, which knows the
// drive behind the handle: drive 0, master, plain IDENTIFY. Drivers that
// reject the channel addressing of the first form answer this one.
std::string smart_identify_own_block_method(std::uint32_t disk) {
    const auto device = open_device(physical_drive_path(disk), GENERIC_READ | GENERIC_WRITE);
    if (!device) return {};
    GETVERSIONINPARAMS version{};
    if (!control(device, SMART_GET_VERSION, nullptr, 0, &version, sizeof version)) return {};

    SENDCMDINPARAMS in{};
    in.cBufferSize = identify_size;
    in.irDriveRegs.bDriveHeadReg = 0xA0;
    in.irDriveRegs.bCommandReg = ata_identify;
    std::vector<std::uint8_t> out(send_cmd_out_header + identify_size);
    const auto got = control(device, SMART_RCV_DRIVE_DATA, &in, send_cmd_in_size, out.data(),
                             static_cast<DWORD>(out.size()));
    if (!got) return {};
    return serial_of_smart_answer(out.data(), *got);
}

// Where the disk sits behind its adapter: the port is the N of "ScsiN:",
// which is not the disk index on a machine with more than one adapter, and
// the target is the drive the miniport is asked about. When the disk does
// not tell, the disk index and the first drive.
std::pair<std::uint32_t, BYTE> scsi_port_and_target(std::uint32_t disk) {
    const auto device = open_device(physical_drive_path(disk), 0);
    if (device) {
        SCSI_ADDRESS address{};
        if (control(device, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, sizeof address))
            return {address.PortNumber, address.TargetId};
    }
    return {disk, 0};
}

std::string scsi_miniport_method(std::uint32_t disk) {
    const auto [port, target] = scsi_port_and_target(disk);
    const auto device = open_device(L"\\\\.\\Scsi" + text::decimal(port) + L":", GENERIC_READ | GENERIC_WRITE);
    if (!device) return {};

    // One buffer both ways: the header, then the request, which the answer
    // (header, driver status, identify data) overwrites.
    constexpr DWORD payload = send_cmd_out_header + identify_size;
    constexpr DWORD total = sizeof(SRB_IO_CONTROL) + payload;
    std::vector<std::uint8_t> buffer(total);
    SRB_IO_CONTROL srb{};
    srb.HeaderLength = sizeof(SRB_IO_CONTROL);
    std::memcpy(srb.Signature, "SCSIDISK", sizeof srb.Signature);
    srb.Timeout = miniport_timeout_seconds;
    srb.ControlCode = ioctl_scsi_miniport_identify;
    srb.Length = payload;
    std::memcpy(buffer.data(), &srb, sizeof srb);
    SENDCMDINPARAMS in{};
    in.cBufferSize = identify_size;
    in.irDriveRegs.bSectorCountReg = 1;
    in.irDriveRegs.bSectorNumberReg = 1;
    in.irDriveRegs.bDriveHeadReg = static_cast<BYTE>(0xA0 | ((target & 1) << 4));
    in.irDriveRegs.bCommandReg = ata_identify;
    in.bDriveNumber = target;
    std::memcpy(buffer.data() + sizeof(SRB_IO_CONTROL), &in, send_cmd_in_size);

    const auto got = control(device, IOCTL_SCSI_MINIPORT, buffer.data(), total, buffer.data(), total);
    if (!got || *got < sizeof(SRB_IO_CONTROL)) return {};
    return serial_of_smart_answer(buffer.data() + sizeof(SRB_IO_CONTROL),
                                  static_cast<DWORD>(*got - sizeof(SRB_IO_CONTROL)));
}

// --- the firmware table --------------------------------------------------------

using get_system_firmware_table_fn = UINT(WINAPI*)(DWORD, DWORD, PVOID, DWORD);

std::uint32_t last_error_or_not_found() {
    const DWORD e = ::GetLastError();
    return e != 0 ? e : smbios_status::not_found;
}

}  // namespace

std::uint32_t system_disk_number() noexcept {
    try {
        std::wstring system_dir(MAX_PATH, L'\0');
        for (;;) {
            const UINT n = ::GetSystemDirectoryW(system_dir.data(), static_cast<UINT>(system_dir.size()));
            if (n == 0) return 0;
            if (n < system_dir.size()) {
                system_dir.resize(n);
                break;
            }
            system_dir.resize(n);  // n counts the terminator when the buffer was short
        }
        // A mount point is never longer than the path it was found for.
        std::wstring mount_point(system_dir.size() + 2, L'\0');
        if (!::GetVolumePathNameW(system_dir.c_str(), mount_point.data(), static_cast<DWORD>(mount_point.size())))
            return 0;
        mount_point.resize(std::wcslen(mount_point.c_str()));
        // "\\?\Volume{GUID}\" is 49 characters and its terminator.
        wchar_t volume[64] = {};
        if (!::GetVolumeNameForVolumeMountPointW(mount_point.c_str(), volume, 64)) return 0;
        std::wstring volume_path(volume);
        // With the backslash the name opens the volume's root folder, not the volume.
        if (!volume_path.empty() && volume_path.back() == L'\\') volume_path.pop_back();
        const auto device = open_device(volume_path, 0);
        if (!device) return 0;
        STORAGE_DEVICE_NUMBER number{};
        if (!control(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number)) return 0;
        return number.DeviceNumber;
    } catch (...) {
        return 0;
    }
}

disk_serials read_disk_serials(std::uint32_t disk) {
    return {storage_property_method(disk), smart_identify_method(disk), smart_identify_own_block_method(disk),
            scsi_miniport_method(disk)};
}

// Windows XP has no firmware-table reader; the table would have to be found
// in physical memory there. The stub refuses XP long before anything asks for
// the identifier, so no such scan is made: without the reader the table is
// simply not found.
firmware_table read_firmware_table() {
    firmware_table table;
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32");
    const auto reader = kernel32 ? reinterpret_cast<get_system_firmware_table_fn>(reinterpret_cast<void*>(
                                       ::GetProcAddress(kernel32, "GetSystemFirmwareTable")))
                                 : nullptr;
    if (!reader) return table;

    // The table may change size between the two calls (firmware updating
    // it at run time); a short buffer is answered with the new size.
    UINT size = reader(rsmb_provider, 0, nullptr, 0);
    table.reported_size = size;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (size == 0) {
            table.status = last_error_or_not_found();
            return table;
        }
        try {
            table.bytes.resize(size);
        } catch (const std::bad_alloc&) {
            table.bytes = {};
            table.status = smbios_status::not_enough_memory;
            return table;
        }
        const UINT got = reader(rsmb_provider, 0, table.bytes.data(), size);
        if (got == 0) {
            table.bytes.clear();
            table.status = last_error_or_not_found();
            return table;
        }
        if (got <= size) {
            table.bytes.resize(got);
            table.status = smbios_status::read;
            return table;
        }
        size = got;
    }
    table.bytes.clear();
    table.status = ERROR_INSUFFICIENT_BUFFER;
    return table;
}

smbios_record read_smbios_record() {
    const firmware_table table = read_firmware_table();
    if (table.status != smbios_status::read) {
        smbios_record record;
        record.status = table.status;
        return record;
    }
    return read_smbios(byte_view(table.bytes.data(), table.bytes.size()));
}

hwid_sources gather_sources() {
    hwid_sources sources;
    sources.disk = read_disk_serials(system_disk_number());
    sources.smbios = read_smbios_record();
    return sources;
}

std::string ansi_round_trip_thread_acp(const std::string& text) {
    if (text.empty() || text.size() > 0x7FFFFFFF) return text;
    const int narrow_size = static_cast<int>(text.size());
    const int wide_size = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), narrow_size, nullptr, 0);
    if (wide_size <= 0) return text;
    std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
    if (::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), narrow_size, wide.data(), wide_size) != wide_size)
        return text;
    const int back_size = ::WideCharToMultiByte(CP_THREAD_ACP, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
    if (back_size <= 0) return text;
    std::string back(static_cast<std::size_t>(back_size), '\0');
    if (::WideCharToMultiByte(CP_THREAD_ACP, 0, wide.data(), wide_size, back.data(), back_size, nullptr, nullptr) !=
        back_size)
        return text;
    return back;
}

namespace {

// Made on first use, so that nothing is asked of the devices before some
// caller wants the identifier.
hwid_cache& process_cache() {
    static hwid_cache cache(gather_sources, ansi_round_trip_thread_acp);
    return cache;
}

}  // namespace

std::int32_t get_hardware_identifier(std::array<std::uint8_t, 32>& out) {
    try {
        out = process_cache().get();
        return 0;
    } catch (const std::bad_alloc&) {
        return static_cast<std::int32_t>(E_FAIL);
    }
}

std::wstring hardware_identifier_text() { return hex::wencode(process_cache().get(), true); }

hwid_state hardware_identifier_state() { return process_cache().state(); }

}  // namespace qzr::hwid
