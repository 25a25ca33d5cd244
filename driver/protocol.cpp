#include "driver/protocol.h"

const char* OpName(uint32_t code) {
  switch (code) {
    case E2P_READ_BYTE: return "E2P_READ_BYTE";
    case E2P_WRITE_BYTE: return "E2P_WRITE_BYTE";
    case E2P_READ_BLOCK: return "E2P_READ_BLOCK";
    case E2P_WRITE_BLOCK: return "E2P_WRITE_BLOCK";
    case E2P_COMMAND: return "E2P_COMMAND";
    case GET_DRIVER_VERSION: return "GET_DRIVER_VERSION";
    case READ_REGISTER: return "READ_REGISTER";
    case WRITE_REGISTER: return "WRITE_REGISTER";
    case READ_PHY: return "READ_PHY";
    case WRITE_PHY: return "WRITE_PHY";
    case READ_TXRX_STATS: return "READ_TXRX_STATS";
    case SET_LINK_MODE: return "SET_LINK_MODE";
    case GET_ADAPTER_BITS: return "GET_ADAPTER_BITS";
    case GET_ADAPTER_LOCATION: return "GET_ADAPTER_LOCATION";
    case GET_ADAPTER_REGISTRY_KEY: return "GET_ADAPTER_REGISTRY_KEY";
    case GET_ADAPTER_PDO: return "GET_ADAPTER_PDO";
    case GET_ADAPTER_PORT: return "GET_ADAPTER_PORT";
    case OTP_READ_BLOCK: return "OTP_READ_BLOCK";
    case OTP_WRITE_BLOCK: return "OTP_WRITE_BLOCK";
    case OTP_CONFIGURE: return "OTP_CONFIGURE";
    case SET_LINK_STATE: return "SET_LINK_STATE";
    case EXECUTE_CABSCAN: return "EXECUTE CABSCAN";
    case READ_USB_PHY_STATS: return "READ_USB_PHY_STATS";
    default: return nullptr;
  }
}
