// The run context: the run's shared objects, handed to every component.
#pragma once

#include <memory>

namespace qzr::sfx {

class value_holder_intf;
class command_line;
class payload_intf;
class veltro_info_intf;
class sfx_reporting_intf;
class microstub_intf;
class sfx_proxy_parser_intf;
class placed_files;

struct sfx_data_holder {
    std::shared_ptr<value_holder_intf> params;
    std::shared_ptr<const command_line> command;
    std::shared_ptr<payload_intf> payload;
    std::shared_ptr<veltro_info_intf> info;
    std::shared_ptr<sfx_reporting_intf> reporting;
    // The parent program that started the run, once preparation has looked
    // at it.
    std::shared_ptr<microstub_intf> microstub;
    // The proxy settings of the run, when a proxy_ini was given.
    std::shared_ptr<sfx_proxy_parser_intf> proxy;
    // The setup files placed so far, held until the setup master runs.
    std::shared_ptr<placed_files> placed;
};

}  // namespace qzr::sfx
