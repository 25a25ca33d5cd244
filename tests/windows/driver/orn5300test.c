/* A test-only kernel driver for the controller's control device, so that
 * the Windows executables can be run under Wine through their real
 * CreateFile and DeviceIoControl path.
 *
 * It creates \Device\ORN5300 with the link \DosDevices\ORN5300_IOCTL, takes
 * create, close and the one device-control code 0x122400 (buffered), and
 * hands each of them to the bridge DLL, which answers the request block from
 * a simulated controller and completes the request later on its own thread.
 *
 * Settings, read from the service's Parameters key at every create:
 *   StateFile        REG_SZ     the simulator state file
 *   TraceFile        REG_SZ     the request trace (JSON Lines), optional
 *   LogFile          REG_SZ     the bridge's log of sessions and lengths, optional
 *   ShortReplyOp     REG_DWORD  an operation code whose replies are cut ...
 *   ShortReplyBytes  REG_DWORD  ... to this many bytes returned (tests only)
 *
 * Written against the WDM interface alone; it imports only ntoskrnl.exe and
 * the bridge. */
#include <ntddk.h>

#include "bridge.h"

#define ORN_IOCTL_MP_ACCESS CTL_CODE(0x12, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS)
_Static_assert(ORN_IOCTL_MP_ACCESS == 0x122400, "device-control code of the tool");

#define ORN_POOL_TAG 0x544E524F /* 'ORNT' */
#define ORN_PATH_CHARS 520

/* Fills the part of the system buffer that carries no input. A real system
 * does not clear it either; a fixed pattern makes any reader of it show up
 * the same way in every run. */
#define ORN_UNSENT_FILL 0xEE

DRIVER_INITIALIZE DriverEntry;

typedef struct OrnSettings {
  WCHAR state_file[ORN_PATH_CHARS];
  WCHAR trace_file[ORN_PATH_CHARS];
  WCHAR log_file[ORN_PATH_CHARS];
  ULONG short_reply_op;
  ULONG short_reply_bytes;
} OrnSettings;

static PDEVICE_OBJECT g_device;
static UNICODE_STRING g_device_name = RTL_CONSTANT_STRING(L"\\Device\\ORN5300");
static UNICODE_STRING g_link_name = RTL_CONSTANT_STRING(L"\\DosDevices\\ORN5300_IOCTL");
static WCHAR g_parameters_buffer[512];
static UNICODE_STRING g_parameters_key = {0, sizeof g_parameters_buffer, g_parameters_buffer};

static ULONG Get32(const UCHAR* b) {
  return (ULONG)b[0] | (ULONG)b[1] << 8 | (ULONG)b[2] << 16 | (ULONG)b[3] << 24;
}

/* One value of the Parameters key into `out` (at most `out_bytes`), or
 * nothing when it is missing, of another type, or too long. */
static BOOLEAN QueryValue(HANDLE key, PCWSTR name, ULONG type, PVOID out, ULONG out_bytes,
                          ULONG* size) {
  UNICODE_STRING value_name;
  ULONG length = 0;
  const ULONG info_bytes = FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data) + out_bytes;
  PKEY_VALUE_PARTIAL_INFORMATION info;
  BOOLEAN ok = FALSE;

  info = ExAllocatePoolWithTag(PagedPool, info_bytes, ORN_POOL_TAG);
  if (info == NULL) return FALSE;
  RtlInitUnicodeString(&value_name, name);
  if (NT_SUCCESS(ZwQueryValueKey(key, &value_name, KeyValuePartialInformation, info, info_bytes,
                                 &length)) &&
      (info->Type == type || (type == REG_SZ && info->Type == REG_EXPAND_SZ)) &&
      info->DataLength <= out_bytes) {
    RtlCopyMemory(out, info->Data, info->DataLength);
    *size = info->DataLength;
    ok = TRUE;
  }
  ExFreePool(info);
  return ok;
}

static void QueryString(HANDLE key, PCWSTR name, WCHAR* out) {
  ULONG size = 0;
  out[0] = L'\0';
  /* One character short of the buffer, so that the NUL always fits. */
  if (!QueryValue(key, name, REG_SZ, out, (ORN_PATH_CHARS - 1) * sizeof(WCHAR), &size)) return;
  out[size / sizeof(WCHAR)] = L'\0';
}

static ULONG QueryDword(HANDLE key, PCWSTR name) {
  ULONG value = 0;
  ULONG size = 0;
  if (!QueryValue(key, name, REG_DWORD, &value, sizeof value, &size) || size != sizeof value) {
    return 0;
  }
  return value;
}

static void ReadSettings(OrnSettings* s) {
  OBJECT_ATTRIBUTES attributes;
  HANDLE key;

  RtlZeroMemory(s, sizeof *s);
  InitializeObjectAttributes(&attributes, &g_parameters_key, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                             NULL, NULL);
  if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) return;
  QueryString(key, L"StateFile", s->state_file);
  QueryString(key, L"TraceFile", s->trace_file);
  QueryString(key, L"LogFile", s->log_file);
  s->short_reply_op = QueryDword(key, L"ShortReplyOp");
  s->short_reply_bytes = QueryDword(key, L"ShortReplyBytes");
  ZwClose(key);
}

/* The bridge hands a request back: Windows error numbers travel as
 * FACILITY_WIN32 statuses (0xC007xxxx), which the caller's DeviceIoControl
 * or CreateFile reports as that error number. */
static void CompleteRequest(void* request, uint32_t error, uint32_t returned) {
  PIRP irp = (PIRP)request;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG information = 0;

  if (error != 0) {
    irp->IoStatus.Status = (NTSTATUS)(0xC0070000u | (error & 0xFFFFu));
  } else {
    irp->IoStatus.Status = STATUS_SUCCESS;
    if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) {
      const ULONG limit = (ULONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[0];
      information = returned;
      if (information > stack->Parameters.DeviceIoControl.OutputBufferLength) {
        information = stack->Parameters.DeviceIoControl.OutputBufferLength;
      }
      if (information > limit) information = limit;
    }
  }
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

static NTSTATUS CompleteNow(PIRP irp, NTSTATUS status) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  PFILE_OBJECT file = stack->FileObject;
  OrnBridgeSettings bridge_settings;
  OrnSettings* settings;

  UNREFERENCED_PARAMETER(device);
  settings = ExAllocatePoolWithTag(PagedPool, sizeof *settings, ORN_POOL_TAG);
  if (settings == NULL) return CompleteNow(irp, STATUS_INSUFFICIENT_RESOURCES);
  ReadSettings(settings);
  /* The handle's reply cut, if any: operation code and byte count. */
  file->FsContext = (PVOID)(ULONG_PTR)(settings->short_reply_op != 0
                                           ? (ULONG_PTR)settings->short_reply_op << 32 |
                                                 settings->short_reply_bytes
                                           : 0);
  bridge_settings.state_file = settings->state_file;
  bridge_settings.trace_file = settings->trace_file;
  bridge_settings.log_file = settings->log_file;
  IoMarkIrpPending(irp);
  OrnBridgeOpen(file, irp, &bridge_settings); /* the IRP is the bridge's from here on */
  ExFreePool(settings);
  return STATUS_PENDING;
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  UNREFERENCED_PARAMETER(device);
  IoMarkIrpPending(irp);
  OrnBridgeClose(file, irp);
  return STATUS_PENDING;
}

/* Cleanup comes before close on a real system; the session ends at close. */
static NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
  UNREFERENCED_PARAMETER(device);
  return CompleteNow(irp, STATUS_SUCCESS);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG in_len = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out_len = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
  const ULONG_PTR cut = (ULONG_PTR)stack->FileObject->FsContext;
  ULONG limit = 0xFFFFFFFFu;

  UNREFERENCED_PARAMETER(device);
  if (code != ORN_IOCTL_MP_ACCESS) return CompleteNow(irp, STATUS_INVALID_DEVICE_REQUEST);
  if (buffer != NULL && out_len > in_len) {
    RtlFillMemory(buffer + in_len, out_len - in_len, ORN_UNSENT_FILL);
  }
  if (cut != 0 && buffer != NULL && in_len >= 8 && Get32(buffer + 4) == (ULONG)(cut >> 32)) {
    limit = (ULONG)(cut & 0xFFFFFFFFu);
  }
  irp->Tail.Overlay.DriverContext[0] = (PVOID)(ULONG_PTR)limit;
  IoMarkIrpPending(irp);
  OrnBridgeControl(stack->FileObject, irp, code, buffer, in_len, out_len);
  return STATUS_PENDING;
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) {
  UNREFERENCED_PARAMETER(driver);
  IoDeleteSymbolicLink(&g_link_name);
  OrnBridgeStop();
  IoDeleteDevice(g_device);
  g_device = NULL;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
  NTSTATUS status;
  uint32_t error;

  status = RtlAppendUnicodeStringToString(&g_parameters_key, registry_path);
  if (NT_SUCCESS(status)) status = RtlAppendUnicodeToString(&g_parameters_key, L"\\Parameters");
  if (!NT_SUCCESS(status)) return status;

  status = IoCreateDevice(driver, 0, &g_device_name, FILE_DEVICE_NETWORK, 0, FALSE, &g_device);
  if (!NT_SUCCESS(status)) return status;
  status = IoCreateSymbolicLink(&g_link_name, &g_device_name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(g_device);
    return status;
  }
  error = OrnBridgeStart(CompleteRequest);
  if (error != 0) {
    IoDeleteSymbolicLink(&g_link_name);
    IoDeleteDevice(g_device);
    return (NTSTATUS)(0xC0070000u | (error & 0xFFFFu));
  }

  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  driver->DriverUnload = Unload;
  g_device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}
