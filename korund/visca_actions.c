#include "visca_actions.h"

#include "visca_dbus.h"

static const ViscaActions* current = &visca_dbus_actions;

void visca_actions_set(const ViscaActions* actions)
{
    current = actions ? actions : &visca_dbus_actions;
}

const ViscaActions* visca_actions_get(void)
{
    return current;
}
