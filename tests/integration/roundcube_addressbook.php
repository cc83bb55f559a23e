<?php
// Roundcube's own LDAP address book (rcube_ldap), driven from PHP's command line the
// way its autocomplete, contact list and contact view drive it.
//
// usage: php roundcube_addressbook.php PORT search TEXT | list | open ID
// Prints the records found as one JSON array on the last line of stdout:
// [{"ID": "...", "name": "...", "email": ["..."]}, ...]; Roundcube's own messages
// (connection and search errors) come before it.

if ($argc < 3) {
    fwrite(STDERR, "usage: php roundcube_addressbook.php PORT search TEXT | list | open ID\n");
    exit(2);
}
[$port, $action, $arg] = [$argv[1], $argv[2], $argv[3] ?? ''];

define('RCUBE_INSTALL_PATH', '/usr/share/roundcube/');
define('RCUBE_CONFIG_DIR', '/etc/roundcube/');  // Roundcube's installed defaults
$bootstrap = RCUBE_INSTALL_PATH . 'program/lib/Roundcube/bootstrap.php';
if (!is_readable($bootstrap)) {
    fwrite(STDERR, "Roundcube is not installed ($bootstrap missing): install roundcube-core\n");
    exit(2);
}
require $bootstrap;
if (!function_exists('ldap_connect')) {
    fwrite(STDERR, "PHP has no LDAP extension: install php-ldap\n");
    exit(2);
}

$rcube = rcube::get_instance();
// No database and no log folder here: no address-book cache, messages on stdout.
$rcube->config->set('ldap_cache', false);
$rcube->config->set('log_driver', 'stdout');

// The address book of Roundcube's sample configuration, with its filter, pointed at
// the server under test.
$book = new rcube_ldap([
    'name'            => 'Directory',
    'hosts'           => ["127.0.0.1:$port"],
    'ldap_version'    => 3,
    'network_timeout' => 10,
    'user_specific'   => false,
    'base_dn'         => '',
    'bind_dn'         => '',
    'bind_pass'       => '',
    'hidden'          => false,
    'searchonly'      => false,
    'writable'        => false,
    'search_fields'   => ['mail', 'cn'],
    'fieldmap'        => [
        'name'         => 'cn',
        'surname'      => 'sn',
        'firstname'    => 'givenName',
        'jobtitle'     => 'title',
        'email'        => 'mail:*',
        'phone:work'   => 'telephoneNumber',
        'organization' => 'o',
    ],
    'sort'            => 'cn',
    'scope'           => 'sub',
    'filter'          => '(objectClass=inetOrgPerson)',
    'fuzzy_search'    => true,
    'vlv'             => false,
    'sizelimit'       => '0',
    'timelimit'       => '0',
]);
if (!$book->ready) {
    fwrite(STDERR, "Roundcube could not connect to 127.0.0.1:$port\n");
    exit(1);
}

$fields = $rcube->config->get('contactlist_fields');
$records = [];
switch ($action) {
case 'search':  // as the autocomplete of the compose screen
    $book->set_pagesize((int) $rcube->config->get('autocomplete_max', 15));
    $mode = (int) $rcube->config->get('addressbook_search_mode') | rcube_addressbook::SEARCH_GROUPS;
    $result = $book->search($fields, $arg, $mode, true, true, 'email');
    while ($result && ($record = $result->iterate())) {
        $records[] = $record;
    }
    break;
case 'list':  // the contact list of the address book
    $book->set_pagesize(50);
    $result = $book->list_records($fields);
    while ($result && ($record = $result->iterate())) {
        $records[] = $record;
    }
    break;
case 'open':  // the contact view
    if ($record = $book->get_record($arg, true)) {
        $records[] = $record;
    }
    break;
default:
    fwrite(STDERR, "unknown action $action\n");
    exit(2);
}

$out = [];
foreach ($records as $record) {
    $out[] = [
        'ID'    => $record['ID'],
        'name'  => rcube_addressbook::compose_list_name($record),
        'email' => array_values(rcube_addressbook::get_col_values('email', $record, true)),
    ];
}
echo json_encode($out), "\n";
